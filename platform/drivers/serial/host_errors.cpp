#include "drivers/serial/host_errors.h"

#include <cerrno>

#include "platform/errors.h"

namespace platform::serial {
namespace {

// The codes that mean the same whether opening or using a device.
DWORD CommonError(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EBUSY:
        return ERROR_ACCESS_DENIED;
    case ENOTTY:
    case EISDIR:
        return ERROR_NOT_SUPPORTED;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_GEN_FAILURE;
    }
}

}  // namespace

DWORD OpenErrorFromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case EIO:
        return ERROR_FILE_NOT_FOUND;
    default:
        return CommonError(error);
    }
}

DWORD IoErrorFromErrno(int error)
{
    switch (error) {
    case EIO:
    case ENXIO:
    case ENODEV:
        return ERROR_DEVICE_REMOVED;
    default:
        return CommonError(error);
    }
}

}  // namespace platform::serial
