// Two or more processes of one device: named mutexes, published windows and
// posts, with real processes that end normally or by SIGKILL.
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "peer.h"
#include "platform/kernel.h"
#include "platform/user.h"
#include "session/device_session.h"
#include "session/run_files.h"
#include "support/test_device.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;
using platform::session::HexOfUnits;
using platform::session::MakeWindowHandle;
using platform::session::OtherProcessesWindows;
using platform::session::PublishedWindow;

const std::u16string kName = u"{AF62135C-D1BA-4076-94CB-C05498E0E225}";

// Whether this process finds the name held elsewhere: creates and closes it.
DWORD CreateAndCloseMutex(const std::u16string& name)
{
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    CloseHandle(mutex);
    return mutex == nullptr ? ERROR_GEN_FAILURE : error;
}

std::string HoldCommand(const std::u16string& name)
{
    return "mutex " + HexOfUnits(name);
}

std::string Hex(ULONG_PTR value)
{
    std::ostringstream text;
    text << std::hex << value;
    return text.str();
}

std::string Hex(HWND window)
{
    return Hex(reinterpret_cast<ULONG_PTR>(window));
}

HWND WindowOf(pid_t process, std::uint32_t local)
{
    return MakeWindowHandle(static_cast<std::uint32_t>(process), local);
}

TEST(NamedMutexAcrossProcesses, SeenWhileAnotherProcessHoldsItAndNotAfterItClosed)
{
    TestDevice device;
    Peer peer(device.root());
    ASSERT_TRUE(peer.ready());
    ASSERT_EQ(peer.Ask(HoldCommand(kName), "mutex "), "mutex 1 0");

    // Seen, but not owned: the other process made it.
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kName.c_str());
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReleaseMutex(mutex), FALSE);
    CloseHandle(mutex);
    EXPECT_EQ(CreateAndCloseMutex(u"{af62135c-d1ba-4076-94cb-c05498e0e225}"), ERROR_SUCCESS);

    ASSERT_EQ(peer.Ask("close", "closed"), "closed");
    EXPECT_EQ(CreateAndCloseMutex(kName), ERROR_SUCCESS);

    // And the other way round.
    mutex = CreateMutexW(nullptr, FALSE, kName.c_str());
    EXPECT_EQ(peer.Ask(HoldCommand(kName), "mutex "), "mutex 1 183");
    CloseHandle(mutex);
}

TEST(NamedMutexAcrossProcesses, ANameIsFreedWhenItsHolderIsKilled)
{
    TestDevice device;
    Peer peer(device.root());
    ASSERT_EQ(peer.Ask(HoldCommand(kName), "mutex "), "mutex 1 0");
    EXPECT_EQ(CreateAndCloseMutex(kName), ERROR_ALREADY_EXISTS);
    peer.Kill();
    EXPECT_EQ(CreateAndCloseMutex(kName), ERROR_SUCCESS);
}

TEST(NamedMutexAcrossProcesses, AProcessOfAnotherDeviceDoesNotSeeIt)
{
    TestDevice device;
    TempFolder otherRoot;
    Peer peer(otherRoot.path());
    ASSERT_EQ(peer.Ask(HoldCommand(kName), "mutex "), "mutex 1 0");
    EXPECT_EQ(CreateAndCloseMutex(kName), ERROR_SUCCESS);
}

TEST(NamedMutexAcrossProcesses, OfProcessesTakingANameAtOnceExactlyOneFindsItNew)
{
    TestDevice device;
    std::vector<std::unique_ptr<Peer>> peers;
    for (int i = 0; i < 4; ++i) {
        peers.push_back(std::make_unique<Peer>(device.root()));
        ASSERT_TRUE(peers.back()->ready());
    }
    for (int round = 0; round < 5; ++round) {
        const std::u16string name = kName + static_cast<char16_t>(u'0' + round);
        for (auto& peer : peers) {
            peer->Send(HoldCommand(name));
        }
        int fresh = 0;
        for (auto& peer : peers) {
            const std::string answer = peer->WaitFor("mutex ");
            EXPECT_TRUE(answer == "mutex 1 0" || answer == "mutex 1 183") << answer;
            fresh += answer == "mutex 1 0" ? 1 : 0;
        }
        EXPECT_EQ(fresh, 1) << "round " << round;
    }
}

TEST(WindowsAcrossProcesses, AnotherProcessesWindowsAreFoundNewestFirstWithTheirExactTitles)
{
    TestDevice device;
    Peer first(device.root());
    Peer second(device.root());
    const std::u16string odd = u"two\nlines \u00FC \U0001F600 \xDC00";
    ASSERT_EQ(first.Ask("publish 1:100:" + HexOfUnits(u"Tavrel V1.20") + " 2:300:" + HexOfUnits(odd), "published"),
              "published");
    ASSERT_EQ(second.Ask("publish 9:200:", "published"), "published");
    platform::session::PublishWindows({{WindowOf(::getpid(), 1), u"mine", 250}});

    const std::vector<PublishedWindow> windows = OtherProcessesWindows();
    ASSERT_EQ(windows.size(), 3u);
    EXPECT_EQ(windows[0].handle, WindowOf(first.pid(), 2));
    EXPECT_EQ(windows[0].title, odd);
    EXPECT_EQ(windows[1].handle, WindowOf(second.pid(), 9));
    EXPECT_EQ(windows[1].title, u"");
    EXPECT_EQ(windows[2].handle, WindowOf(first.pid(), 1));
    const auto tavrel = std::find_if(windows.begin(), windows.end(), [](const PublishedWindow& w) {
        return w.title.find(u"Tavrel") != std::u16string::npos;
    });
    ASSERT_NE(tavrel, windows.end());
    EXPECT_EQ(tavrel->handle, WindowOf(first.pid(), 1));
    EXPECT_EQ(tavrel->order, 100u);

    // A new list replaces the old one.
    ASSERT_EQ(first.Ask("publish 3:50:" + HexOfUnits(u"only"), "published"), "published");
    const auto replaced = OtherProcessesWindows();
    ASSERT_EQ(replaced.size(), 2u);
    EXPECT_EQ(replaced[1].handle, WindowOf(first.pid(), 3));
}

TEST(WindowsAcrossProcesses, TheWindowsOfAProcessThatLeftOrWasKilledDisappear)
{
    TestDevice device;
    Peer leaving(device.root());
    Peer killed(device.root());
    ASSERT_EQ(leaving.Ask("publish 1:1:", "published"), "published");
    ASSERT_EQ(killed.Ask("publish 1:2:", "published"), "published");
    ASSERT_EQ(OtherProcessesWindows().size(), 2u);

    const std::string killedId = std::to_string(killed.pid());
    killed.Kill();
    const auto afterKill = OtherProcessesWindows();
    ASSERT_EQ(afterKill.size(), 1u);
    EXPECT_EQ(afterKill[0].handle, WindowOf(leaving.pid(), 1));
    // Nobody held its lock any more, so the reader cleared its files away.
    const auto board = device.root() / "run" / "windows";
    EXPECT_FALSE(std::filesystem::exists(board / (killedId + ".lock")));
    EXPECT_FALSE(std::filesystem::exists(board / (killedId + ".list")));

    ASSERT_EQ(leaving.Ask("leave", "left"), "left");
    EXPECT_TRUE(OtherProcessesWindows().empty());

    // And this process's own windows, as another process sees them.
    platform::session::PublishWindows({{WindowOf(::getpid(), 4), u"mine", 1}});
    Peer watcher(device.root());
    EXPECT_EQ(watcher.Ask("windows", "windows"),
              "windows " + Hex(WindowOf(::getpid(), 4)) + ":1:" + HexOfUnits(u"mine"));
    platform::session::LeaveDeviceSession();
    EXPECT_EQ(watcher.Ask("windows", "windows"), "windows");
}

// Posts that reach this process, in the order they came.
class PostRecorder {
public:
    void Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        std::lock_guard guard(lock_);
        posts_.push_back({window, message, wParam, lParam, 0, {}});
        arrived_.notify_all();
    }

    // Waits until `count` posts have arrived; all of them then.
    std::vector<MSG> WaitFor(std::size_t count)
    {
        std::unique_lock guard(lock_);
        arrived_.wait_for(guard, std::chrono::seconds(20), [&] { return posts_.size() >= count; });
        return posts_;
    }

    void Receive()
    {
        ASSERT_TRUE(platform::session::ReceivePostsFromOtherProcesses(
            [this](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
                Record(window, message, wParam, lParam);
            }));
    }

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<MSG> posts_;
};

TEST(PostsAcrossProcesses, APostReachesTheOtherProcessExactlyOnceWithItsValues)
{
    TestDevice device;
    PostRecorder recorder;
    recorder.Receive();
    Peer peer(device.root());
    const HWND mine = WindowOf(::getpid(), 7);
    ASSERT_EQ(peer.Ask("post " + Hex(mine) + " 3025 5000 513", "posted "), "posted 1");
    ASSERT_EQ(peer.Ask("post " + Hex(mine) + " 32769 18446744073709551615 -2", "posted "), "posted 1");
    // Posts arrive in order, so when the second is here the first cannot come again.
    const std::vector<MSG> posts = recorder.WaitFor(2);
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[0].hwnd, mine);
    EXPECT_EQ(posts[0].message, 3025u);
    EXPECT_EQ(posts[0].wParam, 5000u);
    EXPECT_EQ(posts[0].lParam, 513);
    EXPECT_EQ(posts[1].message, 32769u);
    EXPECT_EQ(posts[1].wParam, ~WPARAM{0});
    EXPECT_EQ(posts[1].lParam, -2);

    ASSERT_EQ(peer.Ask("receive", "receiving "), "receiving 1");
    ASSERT_TRUE(platform::session::PostToOtherProcess(WindowOf(peer.pid(), 3), WM_CLOSE, 1, -1));
    EXPECT_EQ(peer.WaitFor("post "), "post " + Hex(WindowOf(peer.pid(), 3)) + " 16 1 -1");
}

TEST(PostsAcrossProcesses, PostsToAGoneProcessOrToAnotherDevicesProcessFail)
{
    TestDevice device;
    TempFolder otherRoot;
    Peer elsewhere(otherRoot.path());
    ASSERT_EQ(elsewhere.Ask("receive", "receiving "), "receiving 1");
    EXPECT_FALSE(platform::session::PostToOtherProcess(WindowOf(elsewhere.pid(), 1), WM_CLOSE, 0, 0));

    Peer killed(device.root());
    const pid_t process = killed.pid();
    ASSERT_TRUE(platform::session::PostToOtherProcess(WindowOf(process, 1), WM_NULL, 0, 0));
    killed.Kill();
    EXPECT_FALSE(platform::session::PostToOtherProcess(WindowOf(process, 1), WM_CLOSE, 0, 0));
}

}  // namespace
