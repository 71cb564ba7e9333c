#include "user/message_queue.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <optional>

#include "kernel/never_destroyed.h"
#include "platform/kernel.h"
#include "platform/quotas.h"

namespace platform::user {
namespace {

struct Queues {
    std::mutex lock;
    std::map<DWORD, std::shared_ptr<ThreadQueue>> byThread;
};

Queues& TheQueues()
{
    static NeverDestroyed<Queues> queues;
    return queues.get();
}

// Removes the thread's queue when the thread ends.
struct QueueOwner {
    std::shared_ptr<ThreadQueue> queue;
    ~QueueOwner()
    {
        if (queue != nullptr) {
            Queues& queues = TheQueues();
            std::lock_guard guard(queues.lock);
            queues.byThread.erase(queue->thread());
        }
    }
};
thread_local QueueOwner currentQueue;

// Timer ids for timers without a window, unique in the process.
std::atomic<UINT_PTR> nextTimerId{1};
std::atomic<std::size_t> timerQuota{kDefaultTimerQuota};

bool Fits(const MSG& message, const ThreadQueue::Filter& filter)
{
    if (message.message == WM_QUIT) {
        return true;
    }
    const bool anyMessage = filter.first == 0 && filter.last == 0;
    const bool inRange = anyMessage || (message.message >= filter.first && message.message <= filter.last);
    return inRange && (filter.window == nullptr || message.hwnd == filter.window);
}

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return MSG{window, message, wParam, lParam, GetTickCount(), POINT{0, 0}};
}

}  // namespace

std::shared_ptr<ThreadQueue> CurrentQueue()
{
    if (currentQueue.queue == nullptr) {
        currentQueue.queue = std::make_shared<ThreadQueue>(GetCurrentThreadId());
        Queues& queues = TheQueues();
        std::lock_guard guard(queues.lock);
        queues.byThread[currentQueue.queue->thread()] = currentQueue.queue;
    }
    return currentQueue.queue;
}

std::shared_ptr<ThreadQueue> QueueOfThread(DWORD thread)
{
    Queues& queues = TheQueues();
    std::lock_guard guard(queues.lock);
    const auto found = queues.byThread.find(thread);
    return found == queues.byThread.end() ? nullptr : found->second;
}

void WakeLoopsWithTimers()
{
    std::vector<std::shared_ptr<ThreadQueue>> all;
    {
        Queues& queues = TheQueues();
        std::lock_guard guard(queues.lock);
        for (const auto& [thread, queue] : queues.byThread) {
            all.push_back(queue);
        }
    }
    for (const auto& queue : all) {
        queue->TimeMoved();
    }
}

void ThreadQueue::Post(const MSG& message)
{
    {
        std::lock_guard guard(lock_);
        posted_.push_back(message);
    }
    changed_.notify_all();
}

void ThreadQueue::PostQuit(int exitCode)
{
    {
        std::lock_guard guard(lock_);
        quit_ = true;
        quitCode_ = exitCode;
    }
    changed_.notify_all();
}

LRESULT ThreadQueue::Send(std::function<LRESULT()> run)
{
    auto sent = std::make_shared<SentMessage>();
    sent->run = std::move(run);
    std::unique_lock guard(lock_);
    sent_.push_back(sent);
    changed_.notify_all();
    changed_.wait(guard, [&] { return sent->done; });
    return sent->result;
}

void ThreadQueue::RunSentMessages(std::unique_lock<std::mutex>& lock)
{
    while (!sent_.empty()) {
        const std::shared_ptr<SentMessage> sent = sent_.front();
        sent_.pop_front();
        lock.unlock();
        const LRESULT result = sent->run();
        lock.lock();
        sent->result = result;
        sent->done = true;
        changed_.notify_all();
    }
}

bool ThreadQueue::TakePostedLocked(MSG& message, const Filter& filter, bool remove)
{
    const auto found = std::find_if(posted_.begin(), posted_.end(), [&](const MSG& m) { return Fits(m, filter); });
    if (found == posted_.end()) {
        return false;
    }
    message = *found;
    if (remove) {
        posted_.erase(found);
    }
    return true;
}

bool ThreadQueue::TakeTimerLocked(MSG& message, const Filter& filter, bool remove)
{
    const auto now = TimerNow();
    for (Timer& timer : timers_) {
        const MSG candidate = MakeMessage(timer.window, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.procedure));
        if (timer.due <= now && Fits(candidate, filter)) {
            message = candidate;
            if (remove) {
                // A timer that fell behind fires once, not once per period missed.
                timer.due = now + timer.elapse;
            }
            return true;
        }
    }
    return false;
}

std::optional<TimerTime> ThreadQueue::NextTimerLocked() const
{
    std::optional<TimerTime> next;
    for (const Timer& timer : timers_) {
        if (!next || timer.due < *next) {
            next = timer.due;
        }
    }
    return next;
}

bool ThreadQueue::Take(MSG& message, const Filter& filter, bool wait, bool remove)
{
    std::unique_lock guard(lock_);
    for (;;) {
        RunSentMessages(guard);
        if (TakePostedLocked(message, filter, remove) || TakeTimerLocked(message, filter, remove)) {
            return true;
        }
        if (quit_) {
            message = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(quitCode_), 0);
            if (remove) {
                quit_ = false;
            }
            return true;
        }
        if (!wait) {
            return false;
        }
        WaitForChangeLocked(guard);
    }
}

// Sleeps until something is queued, the next timer is due or the timers'
// clock moves. The timers have just been looked at with the time as it is.
void ThreadQueue::WaitForChangeLocked(std::unique_lock<std::mutex>& lock)
{
    timeMoved_ = false;
    waiting_ = true;
    changed_.notify_all();
    const auto next = NextTimerLocked();
    const auto wakeAt = next ? HostTimeOf(*next) : std::nullopt;
    if (wakeAt) {
        changed_.wait_until(lock, *wakeAt);
    } else {
        changed_.wait(lock);
    }
    waiting_ = false;
}

UINT_PTR ThreadQueue::SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure)
{
    std::lock_guard guard(lock_);
    const auto period = std::chrono::milliseconds(std::max<UINT>(elapse, 1));
    const auto same = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& timer) {
        return timer.window == window && timer.id == id && (window != nullptr || id != 0);
    });
    if (same != timers_.end()) {
        same->elapse = period;
        same->procedure = procedure;
        same->due = TimerNow() + period;
        changed_.notify_all();
        return window != nullptr ? 1 : id;
    }
    if (timers_.size() >= timerQuota.load()) {
        return 0;
    }
    const UINT_PTR assigned = window != nullptr ? id : nextTimerId.fetch_add(1);
    timers_.push_back(Timer{window, assigned, period, procedure, TimerNow() + period});
    changed_.notify_all();
    return window != nullptr ? 1 : assigned;
}

bool ThreadQueue::KillTimer(HWND window, UINT_PTR id)
{
    std::lock_guard guard(lock_);
    const auto before = timers_.size();
    std::erase_if(timers_, [&](const Timer& timer) { return timer.window == window && timer.id == id; });
    return timers_.size() != before;
}

void ThreadQueue::KillTimersOf(HWND window)
{
    std::lock_guard guard(lock_);
    std::erase_if(timers_, [&](const Timer& timer) { return timer.window == window; });
}

bool ThreadQueue::HasTimer(HWND window, UINT_PTR id, TIMERPROC procedure)
{
    std::lock_guard guard(lock_);
    return std::any_of(timers_.begin(), timers_.end(), [&](const Timer& timer) {
        return timer.window == window && timer.id == id && timer.procedure == procedure;
    });
}

void ThreadQueue::TimeMoved()
{
    {
        std::lock_guard guard(lock_);
        if (!timers_.empty()) {
            timeMoved_ = true;
        }
    }
    changed_.notify_all();
}

bool ThreadQueue::WaitIdle(std::chrono::milliseconds timeout)
{
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, timeout,
                             [this] { return waiting_ && !timeMoved_ && posted_.empty() && sent_.empty(); });
}

}  // namespace platform::user

void platform::SetTimerQuota(std::size_t timersPerThread)
{
    platform::user::timerQuota = timersPerThread;
}
