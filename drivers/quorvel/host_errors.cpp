#include "host_errors.h"

#include <cerrno>

#include "platform/errors.h"

namespace quorvel {
namespace {

// Not among the platform's constants; the documented Win32 value.
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;

}  // namespace

DWORD Win32ErrorFromErrno(int error)
{
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENXIO:
    case ENODEV:
        return ERROR_DEV_NOT_EXIST;
    default:
        return ERROR_GEN_FAILURE;
    }
}

}  // namespace quorvel
