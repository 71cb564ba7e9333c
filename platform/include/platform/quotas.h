// How many kernel handles and windows a process, and how many timers a
// thread, may hold at once. A device runs out of them long before a desktop
// does; a program must cope with CreateEventW, CreateThread, CreateWindowExW
// or SetTimer failing, and lowering a quota is how that failure is brought
// about on purpose.
#pragma once

#include <cstddef>

namespace platform {

inline constexpr std::size_t kDefaultHandleQuota = 1 << 16;
inline constexpr std::size_t kDefaultTimerQuota = 1 << 10;
inline constexpr std::size_t kDefaultWindowQuota = 1 << 14;

// Calls that would hold more fail with ERROR_NOT_ENOUGH_MEMORY; what is
// already open stays open.
void SetHandleQuota(std::size_t handles);
std::size_t OpenHandleCount();

// Windows, controls included: creating one more fails with
// ERROR_NOT_ENOUGH_MEMORY.
void SetWindowQuota(std::size_t windows);
std::size_t WindowCount();

// Per thread: SetTimer beyond it returns 0; changing an existing timer is
// always allowed.
void SetTimerQuota(std::size_t timersPerThread);

}  // namespace platform
