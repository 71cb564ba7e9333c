// Latency: one byte at a time, after a random gap, timed from just before
// its write on the input until the moment the last output has read it.
#include <thread>

#include "bench/phases.h"

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

// Gaps spread evenly over 0.2 to 30 ms: a relay that polls with a period up
// to 30 ms meets the bytes at every phase of its period, not at a lucky one.
std::chrono::nanoseconds RandomGap(std::mt19937& random)
{
    std::uniform_int_distribution<std::int64_t> microseconds(200, 30'000);
    return std::chrono::microseconds(microseconds(random));
}

enum class Arrival { AtEveryOutput, Missing, Garbled };

struct OneByte {
    Arrival arrival = Arrival::AtEveryOutput;
    double millis = 0;
};

OneByte SendOne(const InputLine& input, OutputReaders& readers, unsigned char byte)
{
    std::vector<bool> arrived(readers.size(), false);
    std::size_t arrivals = 0;
    bool garbled = false;
    const Clock::time_point sent = Clock::now();
    Clock::time_point last = sent;
    if (input.WriteNow({&byte, 1}) != 1) {
        return {Arrival::Missing, 0};
    }
    const Clock::time_point deadline = sent + 2s;
    while (arrivals < readers.size() && Clock::now() < deadline) {
        readers.Read(10ms, [&](std::size_t output, std::span<const unsigned char> bytes, Clock::time_point seen) {
            garbled = garbled || arrived[output] || bytes.size() != 1 || bytes[0] != byte;
            if (!arrived[output]) {
                arrived[output] = true;
                ++arrivals;
            }
            last = std::max(last, seen);
        });
    }
    if (garbled) {
        return {Arrival::Garbled, 0};
    }
    return {arrivals == readers.size() ? Arrival::AtEveryOutput : Arrival::Missing, Milliseconds(last - sent)};
}

}  // namespace

LatencyFigures MeasureLatency(const InputLine& input, OutputReaders& readers, std::size_t samples,
                              std::mt19937& random)
{
    LatencyFigures figures;
    for (std::size_t k = 0; k < samples; ++k) {
        std::this_thread::sleep_for(RandomGap(random));
        const OneByte one = SendOne(input, readers, static_cast<unsigned char>(1 + k % 255));
        switch (one.arrival) {
        case Arrival::AtEveryOutput:
            figures.millis.push_back(one.millis);
            break;
        case Arrival::Missing:
            ++figures.unanswered;
            readers.Drain(200ms);
            break;
        case Arrival::Garbled:
            ++figures.garbled;
            readers.Drain(200ms);
            break;
        }
    }
    return figures;
}

}  // namespace tavrel::bench
