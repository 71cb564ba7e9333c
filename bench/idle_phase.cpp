// Wake-ups with an idle input: context switches of every thread over an interval.
#include <thread>

#include "bench/phases.h"
#include "testkit/proc_stats.h"

namespace tavrel::bench {

std::vector<ThreadWakeups> MeasureIdle(const Relay& relay, std::chrono::milliseconds interval)
{
    const std::vector<pid_t> processes = relay.processes();
    const std::vector<testing::ThreadSample> before = testing::SampleThreads(processes);
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(interval);
    const std::vector<testing::ThreadSample> after = testing::SampleThreads(processes);
    return WakeupRates(before, after, Seconds(Clock::now() - start));
}

}  // namespace tavrel::bench
