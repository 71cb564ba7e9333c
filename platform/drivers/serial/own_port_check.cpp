#include "drivers/serial/own_port_check.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "devices/device_paths.h"
#include "platform/errors.h"

namespace platform::serial {
namespace {

// Whether `entry` is a link that leads to the character device `device`.
bool LinksTo(const std::filesystem::path& entry, dev_t device)
{
    struct stat link {};
    struct stat target {};
    return ::lstat(entry.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && ::stat(entry.c_str(), &target) == 0 &&
           S_ISCHR(target.st_mode) && target.st_rdev == device;
}

}  // namespace

DWORD RefuseOwnEndpoint(int fd)
{
    struct stat opened {};
    const std::filesystem::path folder = devices::NodeFolder();
    if (folder.empty() || ::fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode)) {
        return ERROR_SUCCESS;
    }
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (LinksTo(entry->path(), opened.st_rdev)) {
            return ERROR_ACCESS_DENIED;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace platform::serial
