// The Win32 error a serial driver reports for a failed host call (an errno).
// One errno can mean different things by what the call was doing: EIO while
// opening a device means there is no such device, while using an open one it
// means the device went away. So there is one table for each kind of call,
// all built on the values that mean the same everywhere.
#pragma once

#include <cerrno>

#include "platform/errors.h"

namespace platform::serial_rules {

// The meanings that do not depend on the call; anything unknown is
// ERROR_GEN_FAILURE.
constexpr DWORD CommonErrorFromErrno(int error)
{
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// A call on a host serial device: held by another (EBUSY) is
// ERROR_ACCESS_DENIED, not a serial device (ENOTTY, EISDIR) is
// ERROR_NOT_SUPPORTED.
constexpr DWORD DeviceErrorFromErrno(int error)
{
    switch (error) {
    case EBUSY:
        return ERROR_ACCESS_DENIED;
    case ENOTTY:
    case EISDIR:
        return ERROR_NOT_SUPPORTED;
    default:
        return CommonErrorFromErrno(error);
    }
}

// A failed open of a serial device: the device missing or absent (ENOENT,
// ENOTDIR, ENXIO, ENODEV, EIO) is ERROR_FILE_NOT_FOUND.
constexpr DWORD OpenErrorFromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case EIO:
        return ERROR_FILE_NOT_FOUND;
    default:
        return DeviceErrorFromErrno(error);
    }
}

// A failed call on an open serial device: a device that went away (EIO,
// ENXIO, ENODEV) is ERROR_DEVICE_REMOVED.
constexpr DWORD IoErrorFromErrno(int error)
{
    switch (error) {
    case EIO:
    case ENXIO:
    case ENODEV:
        return ERROR_DEVICE_REMOVED;
    default:
        return DeviceErrorFromErrno(error);
    }
}

// A failed call on the files a driver makes for itself (pseudo-terminals,
// links and their folders), as the file calls of Windows report it.
constexpr DWORD FileErrorFromErrno(int error)
{
    switch (error) {
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENXIO:
    case ENODEV:
        return ERROR_DEV_NOT_EXIST;
    default:
        return CommonErrorFromErrno(error);
    }
}

}  // namespace platform::serial_rules
