// How many calls (ReadFile, WriteFile, the comm calls) are inside the driver
// of an open device file at this moment. A test that closes a handle under a
// blocked call, or purges it, waits until the call has reached its driver
// instead of sleeping and hoping that it has.
#pragma once

#include <cstddef>

#include "platform/types.h"

namespace platform {

// 0 for a handle that is not an open device file.
std::size_t DriverCallsInProgress(HANDLE file);

}  // namespace platform
