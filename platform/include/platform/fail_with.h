// How a Win32-shaped call fails: it sets the thread's last error and answers
// its failure value (FALSE, a null or invalid handle, WAIT_FAILED).
#pragma once

#include "platform/kernel.h"

namespace platform {

template <typename Result>
Result FailWith(DWORD error, Result failure)
{
    SetLastError(error);
    return failure;
}

}  // namespace platform
