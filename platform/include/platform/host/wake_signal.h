// Wakes a thread that sleeps in poll() or epoll_wait(): an eventfd that any
// thread makes readable without blocking and the sleeper drains once awake.
// Header-only, so that driver modules, which link nothing of the platform,
// can use it too.
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "platform/host/interrupted_calls.h"
#include "platform/host/unique_fd.h"

namespace platform::host {

class WakeSignal {
public:
    // Makes the descriptor at once; valid() tells whether the host had one to
    // give (errno tells why not).
    WakeSignal() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

    bool valid() const { return fd_.valid(); }
    // The descriptor to watch for POLLIN (EPOLLIN): readable once woken.
    int fd() const { return fd_.get(); }

    // Makes the descriptor readable until the next Drain. Never blocks; false
    // (errno tells) only when there is no descriptor, since the counter would
    // need billions of wakes without a drain to fill up.
    bool Wake() const
    {
        const std::uint64_t one = 1;
        return RetryOnInterrupt([&] { return ::write(fd_.get(), &one, sizeof one); }) ==
               static_cast<ssize_t>(sizeof one);
    }

    // Takes every wake so far: the descriptor is no longer readable.
    void Drain() const
    {
        std::uint64_t count = 0;
        RetryOnInterrupt([&] { return ::read(fd_.get(), &count, sizeof count); });
    }

private:
    UniqueFd fd_;
};

}  // namespace platform::host
