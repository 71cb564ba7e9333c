// The clock that the windows' timers run on: SetTimer's periods and the
// moments at which a thread's message loop takes WM_TIMER. It follows the
// host's steady clock until a test holds it. From then on time stands still
// for every timer of the process and moves only when the test advances it,
// so that a test can show that a 5-second timer has not fired after 4999 ms
// and fires at 5000 without waiting for either. The timers still go through
// SetTimer, KillTimer and the message loop of the thread that owns them:
// after an advance, platform::input::WaitForIdle on a window of that thread
// returns once its loop has fired what came due.
#pragma once

#include <chrono>

namespace platform {

// One at a time, for the life of the object.
class HeldTimerClock {
public:
    HeldTimerClock();    // the timers' time stands still from here
    ~HeldTimerClock();   // and runs with the host's clock again, on from where it stood
    HeldTimerClock(const HeldTimerClock&) = delete;
    HeldTimerClock& operator=(const HeldTimerClock&) = delete;

    // Moves the timers' time on and wakes every thread that has a timer.
    void Advance(std::chrono::milliseconds elapsed);
};

}  // namespace platform
