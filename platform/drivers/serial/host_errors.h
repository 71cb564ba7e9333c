// Host errno values as the Win32 error codes that a serial driver reports.
#pragma once

#include "platform/types.h"

namespace platform::serial {

// For a failed open(): the device missing or absent (ENOENT, ENXIO, ENODEV,
// EIO) is ERROR_FILE_NOT_FOUND; no permission or held by another (EACCES,
// EPERM, EBUSY) is ERROR_ACCESS_DENIED.
DWORD OpenErrorFromErrno(int error);
// For any call on an open device: a device that went away (EIO, ENXIO,
// ENODEV) is ERROR_DEVICE_REMOVED.
DWORD IoErrorFromErrno(int error);

}  // namespace platform::serial
