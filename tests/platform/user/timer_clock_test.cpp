// Timers on a clock that the test holds: a timer fires in its thread's
// message loop once its whole period has passed on that clock and not a
// millisecond before, once however far it fell behind, not after KillTimer,
// and a period anew after SetTimer re-arms it. Released, the clock runs on
// with the host's from where it stood.
#include <atomic>
#include <chrono>

#include <gtest/gtest.h>

#include "dialog_thread.h"
#include "platform/timer_clock.h"
#include "platform/user.h"
#include "platform/user_input.h"
#include "support/user_driver.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

constexpr UINT kArm = WM_APP + 1;    // wParam: the period in ms
constexpr UINT kKill = WM_APP + 2;

std::atomic<int> firings{0};
std::atomic<UINT_PTR> timer{0};

void CountFiring(HWND, UINT, UINT_PTR, DWORD)
{
    ++firings;
}

// A dialog whose thread arms and kills one timer when told.
BOOL TimerProcedure(HWND, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: return TRUE;
    case kArm: timer = SetTimer(nullptr, timer, static_cast<UINT>(wParam), CountFiring); return TRUE;
    case kKill: KillTimer(nullptr, timer); return TRUE;
    default: return FALSE;
    }
}

class TimerClockTest : public ::testing::Test {
protected:
    TimerClockTest() { firings = 0; timer = 0; }

    HWND Open()
    {
        thread_.emplace(SampleDialog(u"Timers"), TimerProcedure);
        return person_.WaitForWindow(u"Timers");
    }
    // Tells the dialog's thread, and waits until it has done it.
    static void Tell(HWND dialog, UINT message, WPARAM wParam = 0)
    {
        PostMessageW(dialog, message, wParam, 0);
        EXPECT_TRUE(platform::input::WaitForIdle(dialog));
    }
    // Firings once the dialog's loop has looked at its timer after an advance.
    static int FiringsAfter(platform::HeldTimerClock& clock, std::chrono::milliseconds elapsed, HWND dialog)
    {
        clock.Advance(elapsed);
        EXPECT_TRUE(platform::input::WaitForIdle(dialog));
        return firings;
    }

    UserDriver person_;
    std::optional<DialogThread> thread_;
};

TEST_F(TimerClockTest, ATimerFiresWhenItsWholePeriodHasPassedOnTheHeldClock)
{
    platform::HeldTimerClock clock;
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    Tell(dialog, kArm, 5000);
    ASSERT_NE(timer, 0u);

    EXPECT_EQ(FiringsAfter(clock, 4999ms, dialog), 0);
    EXPECT_EQ(FiringsAfter(clock, 1ms, dialog), 1);
    EXPECT_EQ(FiringsAfter(clock, 4999ms, dialog), 1);
    EXPECT_EQ(FiringsAfter(clock, 1ms, dialog), 2);
    EXPECT_EQ(FiringsAfter(clock, 60s, dialog), 3);   // once, not once for each period missed

    EXPECT_EQ(FiringsAfter(clock, 3s, dialog), 3);
    Tell(dialog, kArm, 5000);   // re-armed: a whole period from now
    EXPECT_EQ(FiringsAfter(clock, 4999ms, dialog), 3);
    EXPECT_EQ(FiringsAfter(clock, 1ms, dialog), 4);

    Tell(dialog, kKill);
    EXPECT_EQ(FiringsAfter(clock, 60s, dialog), 4);
}

TEST_F(TimerClockTest, ReleasedTheClockRunsOnWithTheHostsFromWhereItStood)
{
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    {
        platform::HeldTimerClock clock;
        Tell(dialog, kArm, 60000);
        EXPECT_EQ(FiringsAfter(clock, 59990ms, dialog), 0);
    }
    // The last 10 ms pass on the host's clock, not a whole minute.
    EXPECT_TRUE(person_.WaitUntil([] { return firings == 1; }, 10s));
}

}  // namespace
