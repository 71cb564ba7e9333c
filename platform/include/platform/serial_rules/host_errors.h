// The Win32 error a serial driver reports for a failed host call (an errno).
// One errno can mean different things by what the call was doing: EIO while
// opening a device means there is no such device, while using an open one it
// means the device went away. So there is one table for each kind of call,
// each falling back on the meanings that are the same everywhere.
#pragma once

#include <cerrno>
#include <span>

#include "platform/errors.h"

namespace platform::serial_rules {

struct ErrnoMeaning {
    int error;
    DWORD code;
};

// The code that `table` gives `error`, or `otherwise` when it has none.
constexpr DWORD Translate(std::span<const ErrnoMeaning> table, int error, DWORD otherwise)
{
    for (const ErrnoMeaning& meaning : table) {
        if (meaning.error == error) {
            return meaning.code;
        }
    }
    return otherwise;
}

// The meanings that do not depend on the call.
inline constexpr ErrnoMeaning commonMeanings[] = {
    {0, ERROR_SUCCESS}, {EACCES, ERROR_ACCESS_DENIED}, {EPERM, ERROR_ACCESS_DENIED},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY}, {EINVAL, ERROR_INVALID_PARAMETER},
};
// A host serial device held by another, or no serial device at all.
inline constexpr ErrnoMeaning deviceMeanings[] = {
    {EBUSY, ERROR_ACCESS_DENIED}, {ENOTTY, ERROR_NOT_SUPPORTED}, {EISDIR, ERROR_NOT_SUPPORTED},
};
// Opening a serial device: the device missing or absent.
inline constexpr ErrnoMeaning openMeanings[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND}, {ENOTDIR, ERROR_FILE_NOT_FOUND}, {ENXIO, ERROR_FILE_NOT_FOUND},
    {ENODEV, ERROR_FILE_NOT_FOUND}, {EIO, ERROR_FILE_NOT_FOUND},
};
// Using an open serial device: the device went away.
inline constexpr ErrnoMeaning ioMeanings[] = {
    {EIO, ERROR_DEVICE_REMOVED}, {ENXIO, ERROR_DEVICE_REMOVED}, {ENODEV, ERROR_DEVICE_REMOVED},
};
// The files a driver makes for itself (pseudo-terminals, links and their
// folders), as the file calls of Windows report them.
inline constexpr ErrnoMeaning fileMeanings[] = {
    {EEXIST, ERROR_ALREADY_EXISTS}, {ENOENT, ERROR_FILE_NOT_FOUND}, {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EROFS, ERROR_ACCESS_DENIED}, {EMFILE, ERROR_TOO_MANY_OPEN_FILES}, {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE}, {ENXIO, ERROR_DEV_NOT_EXIST}, {ENODEV, ERROR_DEV_NOT_EXIST},
};

// Anything no table names is ERROR_GEN_FAILURE.
constexpr DWORD CommonErrorFromErrno(int error)
{
    return Translate(commonMeanings, error, ERROR_GEN_FAILURE);
}

constexpr DWORD DeviceErrorFromErrno(int error)
{
    return Translate(deviceMeanings, error, CommonErrorFromErrno(error));
}

// A failed open of a serial device.
constexpr DWORD OpenErrorFromErrno(int error)
{
    return Translate(openMeanings, error, DeviceErrorFromErrno(error));
}

// A failed call on an open serial device.
constexpr DWORD IoErrorFromErrno(int error)
{
    return Translate(ioMeanings, error, DeviceErrorFromErrno(error));
}

// A failed call on the driver's own files.
constexpr DWORD FileErrorFromErrno(int error)
{
    return Translate(fileMeanings, error, CommonErrorFromErrno(error));
}

}  // namespace platform::serial_rules
