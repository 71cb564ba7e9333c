// Wake-ups per second of each thread over an interval, from two samples of
// its context switches: a thread that sleeps and is woken switches out once
// each time it goes back to sleep, so the switches count its wake-ups.
#pragma once

#include <string>
#include <vector>

#include "testkit/proc_stats.h"

namespace tavrel::bench {

struct ThreadWakeups {
    pid_t process = 0;
    pid_t thread = 0;
    std::string name;
    std::string sleepsIn;   // where it slept when the interval began
    double perSecond = 0;
};

// One entry per thread of `after`, ordered by process and thread id; a thread
// that was not yet in `before` counts all its switches as the interval's.
std::vector<ThreadWakeups> WakeupRates(const std::vector<testing::ThreadSample>& before,
                                       const std::vector<testing::ThreadSample>& after, double seconds);

double TotalPerSecond(const std::vector<ThreadWakeups>& threads);

}  // namespace tavrel::bench
