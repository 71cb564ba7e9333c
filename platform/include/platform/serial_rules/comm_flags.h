// The event masks and purge flags that every serial driver accepts: only bits
// that name an event, or a purge action. Anything else fails the call with
// ERROR_INVALID_PARAMETER and changes nothing.
#pragma once

#include "platform/comm.h"

namespace platform::serial_rules {

inline constexpr DWORD knownPurgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// SetCommMask: 0 is a valid mask (it ends a wait and watches nothing).
constexpr bool IsValidWaitMask(DWORD mask)
{
    return (mask & ~EV_ALL_EVENTS) == 0;
}

constexpr bool HasOnlyKnownPurgeFlags(DWORD flags)
{
    return (flags & ~knownPurgeFlags) == 0;
}

}  // namespace platform::serial_rules
