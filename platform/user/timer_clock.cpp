#include "user/timer_clock.h"

#include <mutex>

#include "kernel/never_destroyed.h"
#include "platform/timer_clock.h"
#include "user/message_queue.h"

namespace platform::user {
namespace {

using HostClock = std::chrono::steady_clock;

struct TimerClockState {
    std::mutex lock;
    bool held = false;                   // guarded by lock
    TimerTime standing{};                // while held; guarded by lock
    HostClock::duration ahead{};         // of the host's clock while running; guarded by lock
};

TimerClockState& TheClock()
{
    static NeverDestroyed<TimerClockState> clock;
    return clock.get();
}

TimerTime NowLocked(const TimerClockState& clock)
{
    return clock.held ? clock.standing : HostClock::now() + clock.ahead;
}

}  // namespace

TimerTime TimerNow()
{
    TimerClockState& clock = TheClock();
    std::lock_guard guard(clock.lock);
    return NowLocked(clock);
}

std::optional<HostClock::time_point> HostTimeOf(TimerTime due)
{
    TimerClockState& clock = TheClock();
    std::lock_guard guard(clock.lock);
    if (clock.held) {
        return std::nullopt;
    }
    return due - clock.ahead;
}

}  // namespace platform::user

namespace platform {

HeldTimerClock::HeldTimerClock()
{
    user::TimerClockState& clock = user::TheClock();
    std::lock_guard guard(clock.lock);
    clock.standing = user::NowLocked(clock);
    clock.held = true;
}

HeldTimerClock::~HeldTimerClock()
{
    {
        user::TimerClockState& clock = user::TheClock();
        std::lock_guard guard(clock.lock);
        clock.ahead = clock.standing - user::HostClock::now();
        clock.held = false;
    }
    // Loops that wait with no end in sight wait for the host's clock again.
    user::WakeLoopsWithTimers();
}

void HeldTimerClock::Advance(std::chrono::milliseconds elapsed)
{
    {
        user::TimerClockState& clock = user::TheClock();
        std::lock_guard guard(clock.lock);
        clock.standing += elapsed;
    }
    user::WakeLoopsWithTimers();
}

}  // namespace platform
