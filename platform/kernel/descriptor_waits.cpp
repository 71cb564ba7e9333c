#include "kernel/descriptor_waits.h"

#include <poll.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <vector>

#include "kernel/never_destroyed.h"

namespace platform::kernel {
namespace {

// A thread without a wake-up descriptor cannot be told of a change, so it
// looks at the objects this often instead.
constexpr auto kUnwakeableSlice = std::chrono::milliseconds(10);

struct Registry {
    std::mutex lock;
    std::vector<const host::WakeSignal*> wakeSignals;   // of the descriptor waits in progress
};

// Never destroyed: a detached thread may still set an event as the process ends.
Registry& Waiters()
{
    static NeverDestroyed<Registry> registry;
    return registry.get();
}

// Made on the thread's first descriptor wait and kept for its life.
const host::WakeSignal& ThreadWakeSignal()
{
    thread_local const host::WakeSignal wake;
    return wake;
}

// poll()'s time-out: -1 for none, rounded up so that a wait never ends just
// before its deadline.
int PollMilliseconds(const WaitDeadline& deadline)
{
    if (!deadline) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - WaitClock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

}  // namespace

DescriptorWaiter::DescriptorWaiter() : wake_(ThreadWakeSignal())
{
    if (wake_.valid()) {
        Registry& registry = Waiters();
        std::lock_guard guard(registry.lock);
        registry.wakeSignals.push_back(&wake_);
    }
}

DescriptorWaiter::~DescriptorWaiter()
{
    if (wake_.valid()) {
        Registry& registry = Waiters();
        std::lock_guard guard(registry.lock);
        std::erase(registry.wakeSignals, &wake_);
    }
}

SleepOutcome DescriptorWaiter::Sleep(const WatchedDescriptors& watched, const WaitDeadline& deadline)
{
    std::array<pollfd, MAXIMUM_WAIT_OBJECTS + 1> polled{};
    polled[0] = {wake_.fd(), POLLIN, 0};   // poll() passes over a negative descriptor
    for (std::size_t i = 0; i < watched.count; ++i) {
        polled[i + 1] = {watched.fds[i], POLLIN, 0};
    }
    int timeout = PollMilliseconds(deadline);
    if (!wake_.valid()) {
        const int slice = static_cast<int>(kUnwakeableSlice.count());
        timeout = timeout < 0 ? slice : std::min(timeout, slice);
    }
    SleepOutcome outcome;
    // A thread that cannot be woken never knows whether it was meant to be.
    outcome.notified = !wake_.valid();
    const int ready = ::poll(polled.data(), static_cast<nfds_t>(watched.count + 1), timeout);
    if (ready < 0) {
        outcome.notified = true;   // interrupted: the caller looks again at everything
        return outcome;
    }
    if ((polled[0].revents & POLLIN) != 0) {
        wake_.Drain();
        outcome.notified = true;
    }
    for (std::size_t i = 0; i < watched.count; ++i) {
        const short revents = polled[i + 1].revents;
        outcome.readable[i] = (revents & (POLLIN | POLLHUP)) != 0;
        outcome.sound = outcome.sound && (revents & (POLLERR | POLLNVAL)) == 0;
    }
    return outcome;
}

void NotifyDescriptorWaiters()
{
    Registry& registry = Waiters();
    std::lock_guard guard(registry.lock);
    for (const host::WakeSignal* wake : registry.wakeSignals) {
        wake->Wake();
    }
}

}  // namespace platform::kernel
