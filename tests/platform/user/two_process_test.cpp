// Two copies of a program on one device: the second sees the first's mutex,
// finds its window by a part of its title and posts it the restore message.
#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include <gtest/gtest.h>

#include "platform/kernel.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "support/test_device.h"
#include "testkit/temp_folder.h"

extern char** environ;

namespace {

using namespace tavrel::testing;

const WCHAR* const kMutexName = u"{AF62135C-D1BA-4076-94CB-C05498E0E225}";

pid_t Start(const std::filesystem::path& root, const std::filesystem::path& marker)
{
    const std::string program = FIRST_COPY_PATH;
    const std::string rootText = root.string();
    const std::string markerText = marker.string();
    char* arguments[] = {const_cast<char*>(program.c_str()), const_cast<char*>(rootText.c_str()),
                         const_cast<char*>(markerText.c_str()), nullptr};
    pid_t child = 0;
    return ::posix_spawn(&child, program.c_str(), nullptr, nullptr, arguments, environ) == 0 ? child : -1;
}

bool WaitForMark(const std::filesystem::path& marker, const std::string& what)
{
    for (int i = 0; i < 2000; ++i) {
        if (ReadWholeFile(marker).find(what) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int ExitCodeOf(pid_t child)
{
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Search {
    HWND found = nullptr;
    std::u16string title;
};

BOOL FindTavrel(HWND window, LPARAM parameter)
{
    WCHAR title[260] = {};
    GetWindowTextW(window, title, 259);
    if (wcsstr(title, u"Tavrel") == nullptr) {
        return TRUE;
    }
    auto* search = reinterpret_cast<Search*>(parameter);
    search->found = window;
    search->title = title;
    return FALSE;
}

// A device with a first copy running on it, its dialog up.
class TwoProcesses : public ::testing::Test {
protected:
    void SetUp() override
    {
        first_ = Start(device_.root(), marker_);
        ASSERT_GT(first_, 0);
        ASSERT_TRUE(WaitForMark(marker_, "ready"));
    }
    void TearDown() override
    {
        if (first_ > 0) {
            ::kill(first_, SIGKILL);
            Reap();
        }
    }
    int Reap()
    {
        const int code = ExitCodeOf(first_);
        first_ = -1;
        return code;
    }

    TestDevice device_;
    TempFolder scratch_;
    const std::filesystem::path marker_ = scratch_.path() / "marker";
    pid_t first_ = -1;
};

TEST_F(TwoProcesses, TheSecondSeesTheMutexFindsTheWindowAndPostsToIt)
{
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    EXPECT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(mutex);

    Search search;
    EXPECT_EQ(EnumWindows(FindTavrel, reinterpret_cast<LPARAM>(&search)), FALSE);
    ASSERT_NE(search.found, nullptr);
    EXPECT_EQ(search.title, u"Tavrel V1.20");
    EXPECT_EQ(PostMessageW(search.found, 3025, 5000, WM_LBUTTONDOWN), TRUE);
    EXPECT_EQ(Reap(), 3);
    EXPECT_TRUE(WaitForMark(marker_, "restore"));

    mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);   // the first copy is gone, and its mutex with it
    CloseHandle(mutex);
}

TEST_F(TwoProcesses, AKilledCopyLeavesNeitherMutexNorWindowsBehind)
{
    ::kill(first_, SIGKILL);
    Reap();

    HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(mutex);
    Search search;
    EXPECT_EQ(EnumWindows(FindTavrel, reinterpret_cast<LPARAM>(&search)), TRUE);
    EXPECT_EQ(search.found, nullptr);
}

}  // namespace
