// How long and how much each measured run does.
#pragma once

#include <chrono>
#include <cstddef>

namespace tavrel::bench {

struct RunPlan {
    std::chrono::milliseconds idle{0};       // with no input, for the wake-ups
    std::size_t latencySamples = 0;          // single bytes timed
    std::size_t throughputBytes = 0;         // sent in 100-byte writes
    std::chrono::seconds throughputLimit{0};   // the writing stops here even if not all were sent
};

struct RealisticPlan {
    int baud = 0;
    std::chrono::seconds duration{0};
};

// The reading clients of the realistic run over TCP, beside the one that never reads.
inline constexpr std::size_t kReadingClients = 3;

}  // namespace tavrel::bench
