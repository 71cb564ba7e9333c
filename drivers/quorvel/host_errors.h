// The Win32 error code that stands for a host (errno) error.
#pragma once

#include "platform/types.h"

namespace quorvel {

DWORD Win32ErrorFromErrno(int error);

}  // namespace quorvel
