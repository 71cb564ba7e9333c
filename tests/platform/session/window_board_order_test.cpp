// The board of windows follows the window table in order: two threads that
// make and destroy top-level windows at once both publish, and once a thread's
// DestroyWindow has returned no later publication may bring its window back,
// or a second copy of a program would post to a window that is gone.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/user.h"
#include "session/window_board.h"
#include "support/test_device.h"

namespace {

using platform::session::PublishedWindow;
using tavrel::testing::TestDevice;

constexpr int kRounds = 400;

// This process's windows as another process of the device reads them.
bool BoardLists(const TestDevice& device, HWND window)
{
    // No process has the id 0, so the board counts this one as another.
    const std::vector<PublishedWindow> board = platform::session::ReadOtherProcessesWindows(device.root(), 0);
    return std::any_of(board.begin(), board.end(), [window](const PublishedWindow& w) { return w.handle == window; });
}

TEST(WindowBoardOrder, AWindowThatIsGoneStaysOffTheBoardWhileAnotherThreadPublishes)
{
    TestDevice device;
    std::atomic<int> cameBack{0};
    std::atomic<int> neverListed{0};
    std::latch start(2);
    auto racer = [&](const char16_t* title) {
        start.arrive_and_wait();
        for (int round = 0; round < kRounds; ++round) {
            const HWND window = CreateWindowExW(0, u"STATIC", title, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                                nullptr, nullptr);
            ASSERT_NE(window, nullptr);
            neverListed += BoardLists(device, window) ? 0 : 1;
            ASSERT_TRUE(DestroyWindow(window));
            cameBack += BoardLists(device, window) ? 1 : 0;
        }
    };
    std::thread first(racer, u"first");
    std::thread second(racer, u"second");
    first.join();
    second.join();
    EXPECT_EQ(cameBack.load(), 0) << "of " << 2 * kRounds << " windows destroyed";
    EXPECT_EQ(neverListed.load(), 0) << "of " << 2 * kRounds << " windows made";
}

}  // namespace
