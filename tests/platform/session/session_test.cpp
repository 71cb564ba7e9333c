// One process's part in its device: what it takes from the post socket, how
// it behaves when the receiver is stalled, with no device, across boots and
// from several threads at once.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/user.h"
#include "session/cross_process_posts.h"
#include "session/device_session.h"
#include "session/window_board.h"
#include "support/test_device.h"
#include "testkit/temp_folder.h"

namespace {

using namespace platform::session;
using tavrel::testing::TestDevice;

HWND MyWindow(std::uint32_t local)
{
    return MakeWindowHandle(static_cast<std::uint32_t>(::getpid()), local);
}

// Counts the posts that arrive and keeps the messages.
class Arrivals {
public:
    PostHandler Handler()
    {
        return [this](HWND, UINT message, WPARAM, LPARAM) {
            std::lock_guard guard(lock_);
            messages_.push_back(message);
            changed_.notify_all();
        };
    }
    std::vector<UINT> WaitFor(std::size_t count)
    {
        std::unique_lock guard(lock_);
        changed_.wait_for(guard, std::chrono::seconds(20), [&] { return messages_.size() >= count; });
        return messages_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<UINT> messages_;
};

void SendRaw(const std::string& address, const void* bytes, std::size_t size)
{
    const int sender = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    std::memcpy(to.sun_path + 1, address.data(), address.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + address.size());
    EXPECT_EQ(::sendto(sender, bytes, size, 0, reinterpret_cast<const sockaddr*>(&to), length),
              static_cast<ssize_t>(size));
    ::close(sender);
}

TEST(DeviceSession, AWindowListReadsBackExactlyAndAnythingElseIsRefused)
{
    const std::vector<PublishedWindow> windows = {{MyWindow(1), u"a b\n\xDFFF", 7}, {MyWindow(2), u"", 0}};
    const std::string text = EncodeWindowList(windows);
    const auto decoded = DecodeWindowList(text);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 2u);
    EXPECT_EQ((*decoded)[0].handle, MyWindow(1));
    EXPECT_EQ((*decoded)[0].title, windows[0].title);
    EXPECT_EQ((*decoded)[0].order, 7u);
    EXPECT_EQ((*decoded)[1].title, u"");

    EXPECT_FALSE(DecodeWindowList(text.substr(0, text.size() - 1))) << "cut short";
    EXPECT_FALSE(DecodeWindowList(text.substr(text.find('\n') + 1))) << "no header";
    EXPECT_FALSE(DecodeWindowList(std::string(text) + "1 2 abc\n")) << "a title that is not whole units";
    EXPECT_FALSE(DecodeWindowList(std::string(text) + "1 x 0041\n")) << "an order that is not a number";
}

TEST(DeviceSession, DatagramsThatAreNotPostsForThisProcessAreDropped)
{
    TestDevice device;
    Arrivals arrivals;
    ASSERT_TRUE(ReceivePostsFromOtherProcesses(arrivals.Handler()));
    const std::string address = PostAddress(device.root(), static_cast<std::uint32_t>(::getpid()));
    const char garbage[64] = "not a post";
    SendRaw(address, garbage, 1);
    SendRaw(address, garbage, sizeof garbage);
    SendRaw(address, garbage, 32);
    // A well-formed post (magic, message, window, wParam, lParam) for a window of another process.
    unsigned char foreign[32] = {};
    const std::uint32_t magicAndMessage[] = {0x54505354, WM_USER};
    const ULONG_PTR window =
        reinterpret_cast<ULONG_PTR>(MakeWindowHandle(static_cast<std::uint32_t>(::getpid()) + 1, 1));
    std::memcpy(foreign, magicAndMessage, sizeof magicAndMessage);
    std::memcpy(foreign + 8, &window, sizeof window);
    SendRaw(address, foreign, sizeof foreign);
    ASSERT_TRUE(PostToOtherProcess(MyWindow(1), WM_APP, 0, 0));
    // Datagrams arrive in order: once the last one is here, the others were dropped.
    EXPECT_EQ(arrivals.WaitFor(1), std::vector<UINT>{WM_APP});
}

TEST(DeviceSession, PostingNeverBlocksWhenTheReceiverIsStalled)
{
    TestDevice device;
    std::latch release(1);
    std::atomic<int> delivered{0};
    ASSERT_TRUE(ReceivePostsFromOtherProcesses([&](HWND, UINT, WPARAM, LPARAM) {
        release.wait();
        ++delivered;
    }));
    int sent = 0;
    while (sent < 1000000 && PostToOtherProcess(MyWindow(1), WM_NULL, 0, 0)) {
        ++sent;
    }
    EXPECT_LT(sent, 1000000) << "a full queue was never reported";
    release.count_down();
    for (int i = 0; i < 20000 && delivered.load() < sent; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(delivered.load(), sent);
    EXPECT_TRUE(PostToOtherProcess(MyWindow(1), WM_NULL, 0, 0));
}

TEST(DeviceSession, WithNoDeviceNothingIsSharedAndNothingIsReached)
{
    PublishWindows({{MyWindow(1), u"alone", 1}});
    EXPECT_TRUE(OtherProcessesWindows().empty());
    EXPECT_FALSE(ReceivePostsFromOtherProcesses([](HWND, UINT, WPARAM, LPARAM) {}));
    EXPECT_FALSE(PostToOtherProcess(MyWindow(1), WM_NULL, 0, 0));
    LeaveDeviceSession();
}

TEST(DeviceSession, ANewBootStartsAfreshOnItsOwnDevice)
{
    Arrivals arrivals;
    std::filesystem::path firstRoot;
    {
        TestDevice first;
        firstRoot = first.root();
        ASSERT_TRUE(ReceivePostsFromOtherProcesses(arrivals.Handler()));
        PublishWindows({{MyWindow(1), u"first", 1}});
        ASSERT_TRUE(PostToOtherProcess(MyWindow(1), WM_USER + 1, 0, 0));
        ASSERT_EQ(arrivals.WaitFor(1).size(), 1u);
        // Shutting the device down leaves its session.
    }
    EXPECT_FALSE(SendPost(firstRoot, MyWindow(1), WM_USER, 0, 0));
    TestDevice second;
    ASSERT_TRUE(ReceivePostsFromOtherProcesses(arrivals.Handler()));
    EXPECT_FALSE(SendPost(firstRoot, MyWindow(1), WM_USER, 0, 0));
    ASSERT_TRUE(PostToOtherProcess(MyWindow(1), WM_USER + 2, 0, 0));
    EXPECT_EQ(arrivals.WaitFor(2), (std::vector<UINT>{WM_USER + 1, WM_USER + 2}));
}

TEST(DeviceSession, ThreadsPublishReadPostAndReplaceTheReceiverAtOnce)
{
    TestDevice device;
    Arrivals arrivals;
    ASSERT_TRUE(ReceivePostsFromOtherProcesses(arrivals.Handler()));
    std::atomic<std::size_t> posted{0};
    std::vector<std::thread> threads;
    for (std::uint32_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (std::uint32_t i = 0; i < 200; ++i) {
                PublishWindows({{MyWindow(t), u"window", i}});
                EXPECT_TRUE(OtherProcessesWindows().empty());
                posted += PostToOtherProcess(MyWindow(t), WM_USER, 0, 0) ? 1 : 0;
                if (i % 50 == 0) {
                    EXPECT_TRUE(ReceivePostsFromOtherProcesses(arrivals.Handler()));
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_GT(posted.load(), 0u);
    EXPECT_EQ(arrivals.WaitFor(posted.load()).size(), posted.load());
}

}  // namespace
