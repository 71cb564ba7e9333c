// The one clock of the benchmark (monotonic, nanoseconds) and durations in
// the units that the figures are given in.
#pragma once

#include <chrono>

namespace tavrel::bench {

using Clock = std::chrono::steady_clock;

inline double Milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

inline double Seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

}  // namespace tavrel::bench
