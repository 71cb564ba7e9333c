// Figures read from /proc: parsed from sample texts where the layout is
// tricky, and read from this very process where the kernel can show them.
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "testkit/proc_stats.h"
#include "bench/wakeups.h"

namespace {

using namespace tavrel::bench;
using namespace tavrel::testing;
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

double ProcessCpuClock()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A syscall file's line: the call's number, then its arguments, stack and program counter.
std::string SyscallLine(long call, const std::string& arguments)
{
    return std::to_string(call) + " 0x7ffd10 0x2 " + arguments + " 0x0 0x0 0x0 0x7ffd00 0x7f00aa\n";
}

TEST(ProcStats, APollSleepIsReadFromTheCallAndItsTimeout)
{
    const std::string sleeping = "77 (serial (watch)) S 1 2 3";
#ifdef SYS_poll
    // poll's time-out is an int: -1 may come sign-extended or not.
    EXPECT_EQ(PollSleepFromTexts(sleeping, SyscallLine(SYS_poll, "0xffffffffffffffff")), PollSleep::Untimed);
    EXPECT_EQ(PollSleepFromTexts(sleeping, SyscallLine(SYS_poll, "0xffffffff")), PollSleep::Untimed);
    EXPECT_EQ(PollSleepFromTexts(sleeping, SyscallLine(SYS_poll, "0xc8")), PollSleep::Timed);
    EXPECT_EQ(PollSleepFromTexts(sleeping, SyscallLine(SYS_poll, "0x0")), PollSleep::Timed);
#endif
    // ppoll: a null timespec waits for ever.
    EXPECT_EQ(PollSleepFromTexts(sleeping, SyscallLine(SYS_ppoll, "0x0")), PollSleep::Untimed);
    EXPECT_EQ(PollSleepFromTexts(sleeping, SyscallLine(SYS_ppoll, "0x7ffd40")), PollSleep::Timed);
    // epoll_wait and epoll_pwait keep their time-out one argument further on.
    const auto epoll = [](long call, const std::string& timeout) {
        return std::to_string(call) + " 0x5 0x7ffd10 0x20 " + timeout + " 0x0 0x0 0x7ffd00 0x7f00aa\n";
    };
#ifdef SYS_epoll_wait
    EXPECT_EQ(PollSleepFromTexts(sleeping, epoll(SYS_epoll_wait, "0xffffffffffffffff")), PollSleep::Untimed);
    EXPECT_EQ(PollSleepFromTexts(sleeping, epoll(SYS_epoll_wait, "0x12c")), PollSleep::Timed);
#endif
    EXPECT_EQ(PollSleepFromTexts(sleeping, epoll(SYS_epoll_pwait, "0xffffffff")), PollSleep::Untimed);
    EXPECT_EQ(PollSleepFromTexts(sleeping, epoll(SYS_epoll_pwait, "0x0")), PollSleep::Timed);
    // Running, in another call (read), or not asleep.
    EXPECT_EQ(PollSleepFromTexts("77 (w) R 1 2 3", "running\n"), PollSleep::None);
    EXPECT_EQ(PollSleepFromTexts(sleeping, SyscallLine(SYS_read, "0x1000")), PollSleep::None);
    EXPECT_EQ(PollSleepFromTexts("77 (w) R 1 2 3", SyscallLine(SYS_ppoll, "0x0")), PollSleep::None);
    EXPECT_EQ(PollSleepFromTexts("", ""), PollSleep::None);
}

TEST(ProcStats, ThisProcessShowsItsCpuTimeAsItsOwnClockDoesAndItsMemory)
{
    const std::vector<pid_t> self = {::getpid()};
    const double before = CpuSeconds(self);
    const double clockBefore = ProcessCpuClock();
    std::atomic<unsigned> spin{0};
    while (ProcessCpuClock() - clockBefore < 0.3) {
        spin = spin + 1;
    }
    // The same 0.3 s of CPU, give or take the 10 ms ticks that /proc counts in.
    EXPECT_NEAR(CpuSeconds(self) - before, ProcessCpuClock() - clockBefore, 0.05);
    EXPECT_GT(ResidentKilobytes(self), 0u);
    EXPECT_EQ(ResidentKilobytes(std::vector<pid_t>{}), 0u);
}

TEST(ProcStats, AThreadThatSleepsAndWakesShowsItsSwitchesUnderItsName)
{
    constexpr int kNaps = 50;
    std::atomic<int> stage{0};   // 1: named and waiting, 2: go, 3: napped, 4: sampled (it may end)
    std::thread sleeper([&] {
        ::pthread_setname_np(::pthread_self(), "sleeper");
        stage = 1;
        stage.notify_one();
        stage.wait(1);
        for (int nap = 0; nap < kNaps; ++nap) {
            std::this_thread::sleep_for(1ms);
        }
        stage = 3;
        stage.notify_one();
        stage.wait(3);
    });
    stage.wait(0);
    const std::vector<pid_t> self = {::getpid()};
    const std::vector<ThreadSample> before = SampleThreads(self);
    stage = 2;
    stage.notify_one();
    stage.wait(2);
    const std::vector<ThreadSample> after = SampleThreads(self);
    stage = 4;
    stage.notify_one();
    sleeper.join();

    const std::vector<ThreadWakeups> rates = WakeupRates(before, after, 1.0);
    const auto found = std::find_if(rates.begin(), rates.end(), [](const ThreadWakeups& t) { return t.name == "sleeper"; });
    ASSERT_NE(found, rates.end());
    EXPECT_EQ(found->process, ::getpid());
    // Every nap ends in a wake-up; being preempted besides only adds.
    EXPECT_GE(found->perSecond, kNaps);
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
