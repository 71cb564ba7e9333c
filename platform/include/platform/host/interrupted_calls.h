// Host calls that a signal may interrupt before they did anything (EINTR) are
// simply made again. Header-only, so that driver modules and the preload
// library, which link nothing of the platform, can use it too.
#pragma once

#include <cerrno>

namespace platform::host {

// Makes `call` (a host call that answers -1 and errno on failure) until a
// signal no longer interrupts it, and returns what it answered then.
template <typename Call>
auto RetryOnInterrupt(Call call) -> decltype(call())
{
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR) {
            return result;
        }
    }
}

}  // namespace platform::host
