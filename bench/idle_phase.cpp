// Wake-ups with an idle input: context switches of every thread over an interval.
#include <thread>

#include "bench/phases.h"
#include "bench/proc_stats.h"

namespace tavrel::bench {

std::vector<ThreadWakeups> MeasureIdle(const Relay& relay, std::chrono::milliseconds interval)
{
    const std::vector<pid_t> processes = relay.processes();
    const std::vector<ThreadSample> before = SampleThreads(processes);
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(interval);
    const std::vector<ThreadSample> after = SampleThreads(processes);
    return WakeupRates(before, after, Seconds(Clock::now() - start));
}

}  // namespace tavrel::bench
