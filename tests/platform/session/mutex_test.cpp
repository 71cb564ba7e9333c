// Mutexes within one process: ownership, recursion, waiting, and the names
// that a process knows by itself and with its device.
#include <atomic>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "platform/kernel.h"
#include "platform/user.h"
#include "support/temp_device.h"
#include "support/test_device.h"

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

TEST(NamedMutex, AnyCharactersNameDistinctMutexesOnADeviceAndLeaveNoFilesBehind)
{
    tavrel::testing::TestDevice device;
    const std::u16string names[] = {
        u"a/b",
        u"a\\b",
        u"..",
        u"line\nbreak",
        u"A/B",
        u"\xD800 lone surrogate",
        u"\U0001F600",
        std::u16string(50, u'n'),
        std::u16string(51, u'n'),
        std::u16string(MAX_PATH, u'n'),
    };
    std::vector<HANDLE> handles;
    for (const auto& name : names) {
        handles.push_back(CreateMutexW(nullptr, FALSE, name.c_str()));
        ASSERT_NE(handles.back(), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "a name was taken for another";
    }
    for (HANDLE handle : handles) {
        CloseHandle(handle);
    }
    // Only the lock that guards the names remains.
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(device.root() / "run" / "mutex")) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{".guard"});
}

// A name that cannot be taken among the device's processes is not made a
// name of this process alone: every creation fails, with a reason, until the
// device's run/ folder can be used again.
TEST(NamedMutex, OnADeviceWhoseRunFolderCannotBeUsedCreationFailsUntilItCanBe)
{
    tavrel::testing::TestDevice device;
    const auto run = device.root() / "run";
    std::filesystem::remove_all(run);
    tavrel::testing::WriteWholeFile(run, "not a folder");
    for (int attempt = 0; attempt < 2; ++attempt) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(CreateMutexW(nullptr, FALSE, u"Tavrel"), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    }

    std::filesystem::remove(run);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"Tavrel");
    EXPECT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(mutex);
}

}  // namespace
