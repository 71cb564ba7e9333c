// Mutexes within one process: ownership, recursion, waiting, and the names
// that a process knows by itself.
#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/kernel.h"
#include "platform/user.h"

namespace {

// Runs the function on a thread of its own and waits for it.
template <typename Function> void OnAnotherThread(Function function)
{
    std::thread(function).join();
}

TEST(Mutex, TheOwnerTakesItAgainAndReleasesAsOftenAsItTookIt)
{
    SetLastError(ERROR_ACCESS_DENIED);
    HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ReleaseMutex(mutex), TRUE);
    OnAnotherThread([&] { EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT); });
    EXPECT_EQ(ReleaseMutex(mutex), TRUE);
    SetLastError(0);
    EXPECT_EQ(ReleaseMutex(mutex), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    OnAnotherThread([&] {
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
        EXPECT_EQ(ReleaseMutex(mutex), TRUE);
    });
    EXPECT_EQ(CloseHandle(mutex), TRUE);
}

TEST(Mutex, OnlyTheOwnerReleasesIt)
{
    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    OnAnotherThread([&] {
        SetLastError(0);
        EXPECT_EQ(ReleaseMutex(mutex), FALSE);
        EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    });
    EXPECT_EQ(ReleaseMutex(mutex), TRUE);

    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetLastError(0);
    EXPECT_EQ(ReleaseMutex(event), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(event);
    CloseHandle(mutex);
}

TEST(Mutex, AWaitingThreadGetsItWhenTheOwnerReleasesItOrEnds)
{
    HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
    std::atomic<bool> acquired{false};
    std::thread waiter([&] {
        EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
        acquired = true;
        EXPECT_EQ(ReleaseMutex(mutex), TRUE);
    });
    EXPECT_FALSE(acquired.load());
    EXPECT_EQ(ReleaseMutex(mutex), TRUE);
    waiter.join();
    EXPECT_TRUE(acquired.load());

    // A thread that ends while it owns the mutex does not leave it taken for ever.
    OnAnotherThread([&] { ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); });
    EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(ReleaseMutex(mutex), TRUE);
    CloseHandle(mutex);
}

TEST(Mutex, WaitingForAllTakesTheMutexWithTheOtherObjects)
{
    HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE both[] = {mutex, event};
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
    OnAnotherThread([&] {
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0) << "the failed wait took it";
        ReleaseMutex(mutex);
    });
    SetEvent(event);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
    OnAnotherThread([&] { EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT); });
    EXPECT_EQ(ReleaseMutex(mutex), TRUE);
    CloseHandle(event);
    CloseHandle(mutex);
}

TEST(NamedMutex, TheSameNameOpensTheSameMutexUntilItsLastHandleCloses)
{
    // No device is up: the name is known within the process.
    HANDLE first = CreateMutexW(nullptr, TRUE, u"Tavrel");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = nullptr;
    OnAnotherThread([&] {
        second = CreateMutexW(nullptr, TRUE, u"Tavrel");
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
        EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT) << "not the first's mutex, or owned on opening";
    });
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);

    HANDLE otherCase = CreateMutexW(nullptr, FALSE, u"tavrel");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(otherCase);

    EXPECT_EQ(ReleaseMutex(first), TRUE);
    CloseHandle(first);
    HANDLE third = CreateMutexW(nullptr, FALSE, u"Tavrel");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << "a handle is still open";
    CloseHandle(third);
    CloseHandle(second);
    HANDLE fresh = CreateMutexW(nullptr, FALSE, u"Tavrel");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(fresh);
}

TEST(NamedMutex, EmptyNamesAreUnnamedAndOverlongNamesFail)
{
    HANDLE first = CreateMutexW(nullptr, FALSE, u"");
    HANDLE second = CreateMutexW(nullptr, FALSE, u"");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(first);
    CloseHandle(second);

    const std::u16string longest(MAX_PATH, u'x');
    HANDLE longestMutex = CreateMutexW(nullptr, FALSE, longest.c_str());
    EXPECT_NE(longestMutex, nullptr);
    CloseHandle(longestMutex);
    const std::u16string overlong(MAX_PATH + 1, u'x');
    EXPECT_EQ(CreateMutexW(nullptr, FALSE, overlong.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}

}  // namespace
