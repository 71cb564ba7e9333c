#include "bench/latency_ledger.h"

#include <algorithm>

namespace tavrel::bench {
namespace {

constexpr std::size_t kDistinctValues = 255;

}  // namespace

LatencyLedger::LatencyLedger(std::size_t outputs, std::size_t samples)
    : next_(outputs, 0), arrivals_(samples, 0), lastArrival_(samples)
{
}

unsigned char LatencyLedger::ValueOf(std::size_t number)
{
    return static_cast<unsigned char>(1 + number % kDistinctValues);
}

void LatencyLedger::Read(std::size_t output, std::span<const unsigned char> bytes, Clock::time_point seen)
{
    std::size_t& next = next_[output];
    for (const unsigned char byte : bytes) {
        std::size_t number = next;
        while (number < arrivals_.size() && number < next + kDistinctValues && ValueOf(number) != byte) {
            ++number;
        }
        if (number >= arrivals_.size() || ValueOf(number) != byte) {
            ++garbled_;
            continue;
        }
        ++arrivals_[number];
        lastArrival_[number] = std::max(lastArrival_[number], seen);
        next = number + 1;
    }
}

bool LatencyLedger::Complete(std::size_t sent) const
{
    return std::all_of(next_.begin(), next_.end(), [sent](std::size_t next) { return next >= sent; });
}

LatencyFigures LatencyLedger::Figures(const std::vector<Clock::time_point>& sentAt, std::size_t sent) const
{
    LatencyFigures figures;
    figures.garbled = garbled_;
    for (std::size_t number = 0; number < std::min(sent, arrivals_.size()); ++number) {
        if (arrivals_[number] == next_.size()) {
            figures.millis.push_back(Milliseconds(lastArrival_[number] - sentAt[number]));
        } else {
            ++figures.unanswered;
        }
    }
    return figures;
}

}  // namespace tavrel::bench
