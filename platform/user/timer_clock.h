// The timers' time inside the window layer (platform/timer_clock.h says what
// a test does with it): the host's steady clock, shifted by whatever a test
// advanced it, or standing still while a test holds it.
#pragma once

#include <chrono>
#include <optional>

namespace platform::user {

using TimerTime = std::chrono::steady_clock::time_point;

TimerTime TimerNow();
// The host's moment at which the timers' time reaches `due`; nothing while
// the clock is held, when only an advance brings it nearer.
std::optional<std::chrono::steady_clock::time_point> HostTimeOf(TimerTime due);

}  // namespace platform::user
