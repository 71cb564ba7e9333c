#include "bench/wakeups.h"

#include <algorithm>
#include <numeric>

namespace tavrel::bench {

std::vector<ThreadWakeups> WakeupRates(const std::vector<testing::ThreadSample>& before,
                                       const std::vector<testing::ThreadSample>& after, double seconds)
{
    std::vector<ThreadWakeups> rates;
    for (const testing::ThreadSample& now : after) {
        const auto earlier = std::find_if(before.begin(), before.end(), [&](const testing::ThreadSample& sample) {
            return sample.process == now.process && sample.thread == now.thread;
        });
        const bool known = earlier != before.end();
        const std::uint64_t start = known ? std::min(earlier->switches, now.switches) : 0;
        rates.push_back({now.process, now.thread, now.name, known ? earlier->sleepsIn : now.sleepsIn,
                         static_cast<double>(now.switches - start) / seconds});
    }
    std::sort(rates.begin(), rates.end(), [](const ThreadWakeups& a, const ThreadWakeups& b) {
        return a.process != b.process ? a.process < b.process : a.thread < b.thread;
    });
    return rates;
}

double TotalPerSecond(const std::vector<ThreadWakeups>& threads)
{
    return std::accumulate(threads.begin(), threads.end(), 0.0,
                           [](double sum, const ThreadWakeups& thread) { return sum + thread.perSecond; });
}

}  // namespace tavrel::bench
