// Matches the bytes that each output reads to the numbered bytes that were
// sent, and keeps when the last output got each. Byte k carries 1 + k % 255,
// so up to 255 bytes in flight are told apart; an output that skipped some
// (lost them) is matched again at the next byte it does get.
#pragma once

#include <span>
#include <vector>

#include "bench/clock.h"
#include "bench/figures.h"

namespace tavrel::bench {

class LatencyLedger {
public:
    LatencyLedger(std::size_t outputs, std::size_t samples);

    static unsigned char ValueOf(std::size_t number);

    void Read(std::size_t output, std::span<const unsigned char> bytes, Clock::time_point seen);
    // Every output has read (or skipped) the first `sent` bytes.
    bool Complete(std::size_t sent) const;
    // The latency of each of the first `sent` bytes that every output got,
    // from its moment in `sentAt`.
    LatencyFigures Figures(const std::vector<Clock::time_point>& sentAt, std::size_t sent) const;

private:
    std::vector<std::size_t> next_;          // per output: the number of the byte it should read next
    std::vector<std::size_t> arrivals_;      // per byte: how many outputs read it
    std::vector<Clock::time_point> lastArrival_;
    std::size_t garbled_ = 0;                // bytes read that match none expected
};

}  // namespace tavrel::bench
