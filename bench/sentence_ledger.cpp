#include "bench/sentence_ledger.h"

#include <algorithm>

namespace tavrel::bench {

SentenceLedger::SentenceLedger(std::vector<std::size_t> lineEnds, std::size_t readers)
    : lineEnds_(std::move(lineEnds)), arrivals_(readers)
{
}

void SentenceLedger::Reached(std::size_t reader, std::size_t inOrder, Clock::time_point seen)
{
    std::vector<Clock::time_point>& arrivals = arrivals_[reader];
    while (arrivals.size() < lineEnds_.size() && lineEnds_[arrivals.size()] <= inOrder) {
        arrivals.push_back(seen);
    }
}

std::vector<double> SentenceLedger::Millis(const std::vector<Clock::time_point>& sentAt, std::size_t sent) const
{
    std::vector<double> millis;
    for (const std::vector<Clock::time_point>& arrivals : arrivals_) {
        for (std::size_t line = 0; line < std::min({sent, arrivals.size(), sentAt.size()}); ++line) {
            millis.push_back(Milliseconds(arrivals[line] - sentAt[line]));
        }
    }
    return millis;
}

}  // namespace tavrel::bench
