// Waits on objects that name a readiness descriptor (kernel_object.h). Data
// arriving at a device notifies nobody, so such a wait cannot sleep on the
// kernel's condition variable: the waiting thread polls the objects'
// descriptors together with a wake-up descriptor of its own (an eventfd),
// which NotifyWaiters makes readable. Either wakes it, and a thread that only
// ever waits on plain objects never makes a descriptor.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>

#include "platform/host/wake_signal.h"
#include "platform/kernel.h"

namespace platform::kernel {

using WaitClock = std::chrono::steady_clock;
// When a wait ends; empty means never.
using WaitDeadline = std::optional<WaitClock::time_point>;

// The descriptors of one sleep, without allocating.
struct WatchedDescriptors {
    std::array<int, MAXIMUM_WAIT_OBJECTS> fds{};
    std::size_t count = 0;
};

// What one sleep saw.
struct SleepOutcome {
    // False when one of the descriptors is in error (POLLERR, or POLLNVAL for
    // one that is not open): it no longer tells when its object changes, and
    // it would end every sleep at once.
    bool sound = true;
    // Woken by NotifyWaiters, interrupted, or unable to tell: any object may
    // have changed, so the caller asks every one.
    bool notified = false;
    // Which of the watched descriptors polled readable, by their place.
    std::array<bool, MAXIMUM_WAIT_OBJECTS> readable{};
};

// One descriptor wait of the calling thread. Construct it with the wait lock
// held, right after a look found no object signalled: every NotifyWaiters
// from then on reaches it, so no change between that look and the sleep is
// missed.
class DescriptorWaiter {
public:
    DescriptorWaiter();
    ~DescriptorWaiter();
    DescriptorWaiter(const DescriptorWaiter&) = delete;
    DescriptorWaiter& operator=(const DescriptorWaiter&) = delete;

    // With the wait lock released: sleeps until one of the descriptors is
    // readable, the waiters are notified, or the deadline passed. It may also
    // return early; the caller looks at the objects again either way.
    [[nodiscard]] SleepOutcome Sleep(const WatchedDescriptors& watched, const WaitDeadline& deadline);

private:
    const host::WakeSignal& wake_;   // the thread's; without a descriptor when the host had none to give
};

// Makes the wake-up descriptor of every descriptor wait in progress readable.
void NotifyDescriptorWaiters();

}  // namespace platform::kernel
