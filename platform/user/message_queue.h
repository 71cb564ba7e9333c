// One message queue per thread: posted messages, the thread's timers, and
// messages sent by other threads. Its loop (GetMessageW, PeekMessageW) takes
// sent messages first, then posted ones, then a due timer as WM_TIMER. The
// timers run on the timers' clock (user/timer_clock.h).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/user.h"
#include "user/timer_clock.h"

namespace platform::user {

class ThreadQueue {
public:
    explicit ThreadQueue(DWORD thread) : thread_(thread) {}

    DWORD thread() const { return thread_; }

    void Post(const MSG& message);
    void PostQuit(int exitCode);

    // Runs a message on the queue's thread for another thread and waits for
    // its result; `run` is called by the owning thread's loop.
    LRESULT Send(std::function<LRESULT()> run);

    struct Filter {
        HWND window = nullptr;   // null: any
        UINT first = 0;
        UINT last = 0;           // 0 and 0: any message
    };
    // The next message that fits the filter (WM_QUIT always fits). With
    // `wait`, blocks until there is one; without, false when there is none.
    // Sent messages are run meanwhile, whatever the filter.
    bool Take(MSG& message, const Filter& filter, bool wait, bool remove);

    UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure);
    bool KillTimer(HWND window, UINT_PTR id);
    void KillTimersOf(HWND window);
    bool HasTimer(HWND window, UINT_PTR id, TIMERPROC procedure);

    // The timers' clock moved: a thread with timers looks at them again.
    void TimeMoved();

    // True once the thread waits in its loop with nothing left to handle,
    // its timers looked at since the timers' clock last moved.
    bool WaitIdle(std::chrono::milliseconds timeout);

private:
    struct Timer {
        HWND window;
        UINT_PTR id;
        std::chrono::milliseconds elapse;
        TIMERPROC procedure;
        TimerTime due;
    };
    struct SentMessage {
        std::function<LRESULT()> run;
        LRESULT result = 0;
        bool done = false;
    };

    bool TakePostedLocked(MSG& message, const Filter& filter, bool remove);
    bool TakeTimerLocked(MSG& message, const Filter& filter, bool remove);
    void RunSentMessages(std::unique_lock<std::mutex>& lock);
    std::optional<TimerTime> NextTimerLocked() const;
    void WaitForChangeLocked(std::unique_lock<std::mutex>& lock);

    const DWORD thread_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<MSG> posted_;
    std::deque<std::shared_ptr<SentMessage>> sent_;
    std::vector<Timer> timers_;
    bool quit_ = false;
    int quitCode_ = 0;
    bool waiting_ = false;
    bool timeMoved_ = false;   // the timers' clock moved since the loop last looked at the timers
};

// The calling thread's queue, made on first use.
std::shared_ptr<ThreadQueue> CurrentQueue();
// The queue of a thread, if it has one.
std::shared_ptr<ThreadQueue> QueueOfThread(DWORD thread);
// Tells every queue that the timers' clock moved.
void WakeLoopsWithTimers();

}  // namespace platform::user
