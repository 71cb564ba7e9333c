// Compile-time checks of the rules that both serial drivers share: the same
// errno means different things by what the driver was doing, and that must
// survive any tidying of the tables into one.
#include <cerrno>

#include "platform/serial_rules/host_errors.h"

namespace {

using platform::serial_rules::FileErrorFromErrno;
using platform::serial_rules::IoErrorFromErrno;
using platform::serial_rules::OpenErrorFromErrno;

// A device that is not there when opened, and one that goes away in use.
static_assert(OpenErrorFromErrno(EIO) == ERROR_FILE_NOT_FOUND);
static_assert(OpenErrorFromErrno(ENXIO) == ERROR_FILE_NOT_FOUND);
static_assert(IoErrorFromErrno(EIO) == ERROR_DEVICE_REMOVED);
static_assert(IoErrorFromErrno(ENXIO) == ERROR_DEVICE_REMOVED);
static_assert(FileErrorFromErrno(ENXIO) == ERROR_DEV_NOT_EXIST);

// A serial device held by another, or a path that is no serial device.
static_assert(OpenErrorFromErrno(EBUSY) == ERROR_ACCESS_DENIED);
static_assert(OpenErrorFromErrno(ENOTTY) == ERROR_NOT_SUPPORTED);
static_assert(IoErrorFromErrno(ENOTTY) == ERROR_NOT_SUPPORTED);

// The driver's own files: a name taken, a folder missing, no descriptors left.
static_assert(FileErrorFromErrno(EEXIST) == ERROR_ALREADY_EXISTS);
static_assert(FileErrorFromErrno(ENOTDIR) == ERROR_PATH_NOT_FOUND);
static_assert(FileErrorFromErrno(EMFILE) == ERROR_TOO_MANY_OPEN_FILES);

// What every kind of call agrees on.
static_assert(OpenErrorFromErrno(EACCES) == ERROR_ACCESS_DENIED && IoErrorFromErrno(EPERM) == ERROR_ACCESS_DENIED &&
              FileErrorFromErrno(EROFS) == ERROR_ACCESS_DENIED);
static_assert(IoErrorFromErrno(0) == ERROR_SUCCESS && FileErrorFromErrno(0) == ERROR_SUCCESS);
static_assert(OpenErrorFromErrno(EPIPE) == ERROR_GEN_FAILURE && FileErrorFromErrno(EPIPE) == ERROR_GEN_FAILURE);

}  // namespace
