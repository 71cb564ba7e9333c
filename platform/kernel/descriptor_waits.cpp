#include "kernel/descriptor_waits.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <mutex>
#include <vector>

#include "kernel/never_destroyed.h"
#include "platform/host/unique_fd.h"

namespace platform::kernel {
namespace {

// A thread without a wake-up descriptor cannot be told of a change, so it
// looks at the objects this often instead.
constexpr auto kUnwakeableSlice = std::chrono::milliseconds(10);

struct Registry {
    std::mutex lock;
    std::vector<int> wakeDescriptors;   // of the descriptor waits in progress
};

// Never destroyed: a detached thread may still set an event as the process ends.
Registry& Waiters()
{
    static NeverDestroyed<Registry> registry;
    return registry.get();
}

// Made on the thread's first descriptor wait and kept for its life.
int ThreadWakeDescriptor()
{
    thread_local const host::UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    return wake.get();
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

void Drain(int wake)
{
    std::uint64_t count = 0;
    [[maybe_unused]] const auto drained = ::read(wake, &count, sizeof count);
}

}  // namespace

DescriptorWaiter::DescriptorWaiter() : wake_(ThreadWakeDescriptor())
{
    if (wake_ >= 0) {
        Registry& registry = Waiters();
        std::lock_guard guard(registry.lock);
        registry.wakeDescriptors.push_back(wake_);
    }
}

DescriptorWaiter::~DescriptorWaiter()
{
    if (wake_ >= 0) {
        Registry& registry = Waiters();
        std::lock_guard guard(registry.lock);
        std::erase(registry.wakeDescriptors, wake_);
    }
}

SleepOutcome DescriptorWaiter::Sleep(const WatchedDescriptors& watched, const WaitDeadline& deadline)
{
    std::array<pollfd, MAXIMUM_WAIT_OBJECTS + 1> polled{};
    polled[0] = {wake_, POLLIN, 0};   // poll() passes over a negative descriptor
    for (std::size_t i = 0; i < watched.count; ++i) {
        polled[i + 1] = {watched.fds[i], POLLIN, 0};
    }
    int timeout = PollMilliseconds(deadline);
    if (wake_ < 0) {
        const int slice = static_cast<int>(kUnwakeableSlice.count());
        timeout = timeout < 0 ? slice : std::min(timeout, slice);
    }
    SleepOutcome outcome;
    // A thread that cannot be woken never knows whether it was meant to be.
    outcome.notified = wake_ < 0;
    const int ready = ::poll(polled.data(), static_cast<nfds_t>(watched.count + 1), timeout);
    if (ready < 0) {
        outcome.notified = true;   // interrupted: the caller looks again at everything
        return outcome;
    }
    if ((polled[0].revents & POLLIN) != 0) {
        Drain(wake_);
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
    const std::uint64_t one = 1;
    for (const int wake : registry.wakeDescriptors) {
        // A failed write means that the counter is full, so already readable.
        [[maybe_unused]] const auto written = ::write(wake, &one, sizeof one);
    }
}

}  // namespace platform::kernel
