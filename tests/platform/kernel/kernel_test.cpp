#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/debug_capture.h"
#include "platform/kernel.h"

namespace {

TEST(Events, AutoResetSatisfiesOneWaitAndManualResetStays)
{
    HANDLE automatic = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE manual = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(automatic, nullptr);
    ASSERT_NE(automatic, INVALID_HANDLE_VALUE);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    EXPECT_EQ(SetEvent(automatic), TRUE);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);

    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ResetEvent(manual), TRUE);
    EXPECT_EQ(WaitForSingleObject(manual, 10), WAIT_TIMEOUT);
    EXPECT_EQ(CloseHandle(automatic), TRUE);
    EXPECT_EQ(CloseHandle(manual), TRUE);
}

TEST(Events, TimeoutIs258AndBadHandlesFail)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    static_assert(WAIT_TIMEOUT == 258);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 50), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    ASSERT_EQ(CloseHandle(event), TRUE);

    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(CloseHandle(event), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetEvent(nullptr), FALSE);
    EXPECT_EQ(WaitForMultipleObjects(0, nullptr, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Waits, AnyReturnsTheFirstSignalledAndAllNeedsEvery)
{
    HANDLE events[3] = {CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr),
                        CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    SetEvent(events[2]);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_TIMEOUT);
    SetEvent(events[0]);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_OBJECT_0);
    // The wait-all took both auto-reset events and left the manual one set.
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(events[2], 0), WAIT_OBJECT_0);

    HANDLE twice[2] = {events[0], events[0]};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    for (HANDLE event : events) {
        CloseHandle(event);
    }
}

TEST(Waits, AnotherThreadWakesAnInfiniteWait)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::thread setter([event] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SetEvent(event);
    });
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    setter.join();
    CloseHandle(event);
}

// The times the calling thread gave up the processor: every sleep, however short, counts.
long VoluntarySwitches()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

TEST(Waits, AZeroTimeoutOnlyLooksAndNeverSleeps)
{
    HANDLE events[2] = {CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    const long before = VoluntarySwitches();
    for (int round = 0; round < 1000; ++round) {
        ASSERT_EQ(WaitForSingleObject(events[0], 0), WAIT_TIMEOUT);
        ASSERT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_TIMEOUT);
        ASSERT_EQ(WaitForMultipleObjects(2, events, TRUE, 0), WAIT_TIMEOUT);
        SetEvent(events[1]);
        ASSERT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_OBJECT_0 + 1);
        ASSERT_EQ(WaitForSingleObject(events[1], 0), WAIT_TIMEOUT);   // the look took the auto-reset signal
    }
    EXPECT_EQ(VoluntarySwitches(), before);
    for (HANDLE event : events) {
        CloseHandle(event);
    }
}

DWORD ReturnParameter(LPVOID parameter)
{
    SetLastError(1234);   // each thread has its own last error
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(parameter));
}

TEST(Threads, HandleIsSignalledWithTheExitCode)
{
    SetLastError(77);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, ReturnParameter, reinterpret_cast<LPVOID>(42), 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_EQ(GetExitCodeThread(thread, &code), TRUE);
    EXPECT_EQ(code, 42u);
    // A finished thread stays signalled for every later wait.
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_EQ(GetLastError(), 77u);
    EXPECT_EQ(CloseHandle(thread), TRUE);
}

DWORD WaitForParameter(LPVOID parameter)
{
    return WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE) == WAIT_OBJECT_0 ? 0 : 1;
}

TEST(Threads, RunningThreadReportsStillActiveAndOutlivesItsHandle)
{
    HANDLE go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, WaitForParameter, go, 0, nullptr);
    DWORD code = 0;
    EXPECT_EQ(GetExitCodeThread(thread, &code), TRUE);
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    SetEvent(go);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(GetExitCodeThread(thread, &code), TRUE);
    EXPECT_EQ(code, 0u);
    CloseHandle(thread);
    CloseHandle(go);

    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(DebugOutput, CaptureKeepsExactLinesOnlyWhileActive)
{
    OutputDebugStringW(u"before\n");
    {
        platform::DebugOutputCapture capture;
        OutputDebugStringW(u"ThreadGPSProxy started\n");
        OutputDebugStringW(u"Error: No se pudo ajustar la m\u00e1scara de eventos\n");
        OutputDebugStringW(nullptr);
        const auto lines = capture.Lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], u"ThreadGPSProxy started\n");
        EXPECT_EQ(lines[1], u"Error: No se pudo ajustar la m\u00e1scara de eventos\n");
        EXPECT_EQ(capture.Count(u"ThreadGPSProxy started\n"), 1u);
    }
    platform::DebugOutputCapture later;
    EXPECT_TRUE(later.Lines().empty());
}

TEST(DebugBreak, CarriesOnWithoutADebugger)
{
    DebugBreak();
    SUCCEED() << "the process was not ended";
}

}  // namespace
