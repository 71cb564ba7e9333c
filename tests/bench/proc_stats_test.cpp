// Figures read from /proc: parsed from sample texts where the layout is
// tricky, and read from this very process where the kernel can show them.
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "bench/proc_stats.h"
#include "bench/wakeups.h"

namespace {

using namespace tavrel::bench;
using namespace std::chrono_literals;

TEST(ProcStats, CpuTicksAreCountedFromTheEndOfTheName)
{
    // A name with spaces and parentheses; utime 111 and stime 222 are fields 14 and 15.
    const std::string stat = "4321 (a ) (b) S 1 2 3 4 5 6 7 8 9 10 111 222 333 444 20 0 6 0 100\n";
    EXPECT_EQ(CpuTicksFromStat(stat), 333u);
    EXPECT_FALSE(CpuTicksFromStat(""));
    EXPECT_FALSE(CpuTicksFromStat("4321 (cut) S 1 2"));
}

TEST(ProcStats, StatusNumbersAreFoundByTheirWholeName)
{
    const std::string status =
        "Name:\ttavrel\nVmRSS:\t    4512 kB\nvoluntary_ctxt_switches:\t12\nnonvoluntary_ctxt_switches:\t3\n";
    EXPECT_EQ(StatusNumber(status, "VmRSS"), 4512u);
    EXPECT_EQ(StatusNumber(status, "voluntary_ctxt_switches"), 12u);
    EXPECT_EQ(StatusNumber(status, "nonvoluntary_ctxt_switches"), 3u);
    EXPECT_FALSE(StatusNumber(status, "VmHWM"));
    EXPECT_FALSE(StatusNumber(status, "Name"));
}

TEST(ProcStats, ThisProcessShowsItsCpuTimeAndMemory)
{
    const std::vector<pid_t> self = {::getpid()};
    const double before = CpuSeconds(self);
    const auto start = std::chrono::steady_clock::now();
    std::atomic<unsigned> spin{0};
    while (std::chrono::steady_clock::now() - start < 200ms) {
        spin = spin + 1;
    }
    EXPECT_GT(CpuSeconds(self), before);
    EXPECT_GT(ResidentKilobytes(self), 0u);
    EXPECT_EQ(ResidentKilobytes(std::vector<pid_t>{}), 0u);
}

TEST(ProcStats, AThreadThatSleepsAndWakesShowsItsSwitchesUnderItsName)
{
    std::atomic<bool> named{false};
    std::atomic<bool> stop{false};
    std::thread sleeper([&] {
        ::pthread_setname_np(::pthread_self(), "sleeper");
        named = true;
        while (!stop) {
            std::this_thread::sleep_for(1ms);
        }
    });
    while (!named) {
        std::this_thread::yield();
    }
    const std::vector<pid_t> self = {::getpid()};
    const std::vector<ThreadSample> before = SampleThreads(self);
    std::this_thread::sleep_for(100ms);
    const std::vector<ThreadSample> after = SampleThreads(self);
    stop = true;
    sleeper.join();

    const std::vector<ThreadWakeups> rates = WakeupRates(before, after, 0.1);
    const auto found = std::find_if(rates.begin(), rates.end(), [](const ThreadWakeups& t) { return t.name == "sleeper"; });
    ASSERT_NE(found, rates.end());
    EXPECT_EQ(found->process, ::getpid());
    // About a hundred naps of 1 ms in 100 ms; a busy machine makes fewer.
    EXPECT_GT(found->perSecond, 100.0);
    EXPECT_FALSE(found->sleepsIn.empty());
}

TEST(Wakeups, RatesComeFromTheSameThreadsSwitchesAndNewThreadsCountWhole)
{
    const std::vector<ThreadSample> before = {{10, 10, "main", "futex", 100}, {10, 12, "worker", "futex", 50}};
    const std::vector<ThreadSample> after = {{10, 12, "worker", "poll", 70}, {10, 10, "main", "futex", 100},
                                             {10, 13, "new", "poll", 4}};
    const std::vector<ThreadWakeups> rates = WakeupRates(before, after, 2.0);
    ASSERT_EQ(rates.size(), 3u);
    EXPECT_EQ(rates[0].thread, 10);
    EXPECT_EQ(rates[0].perSecond, 0.0);
    EXPECT_EQ(rates[1].thread, 12);
    EXPECT_EQ(rates[1].perSecond, 10.0);
    EXPECT_EQ(rates[1].sleepsIn, "futex");   // where it slept when the interval began
    EXPECT_EQ(rates[2].perSecond, 2.0);
    EXPECT_EQ(TotalPerSecond(rates), 12.0);
}

}  // namespace
