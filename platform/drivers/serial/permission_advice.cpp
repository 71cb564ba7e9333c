#include "drivers/serial/permission_advice.h"

#include <errno.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <set>
#include <vector>

#include "platform/host/file_calls.h"

namespace platform::serial {
namespace {

// The name of the group `id`; its number when the host has no name for it.
std::string GroupName(gid_t id)
{
    std::vector<char> buffer(4096);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(id, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return found->gr_name;
    }
    return std::to_string(id);
}

}  // namespace

std::string PermissionAdvice(const std::filesystem::path& device, int error)
{
    if (error != EACCES && error != EPERM) {
        return {};
    }
    const std::string refused = "no permission to open " + device.string();
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0) {
        return refused;
    }
    if ((node.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
        return refused + ": it lets in only its owner; ask the machine's administrator for access";
    }
    const std::string group = GroupName(node.st_gid);
    return refused + ": add yourself to its group with `sudo usermod -aG " + group +
           " $USER`, then log in again";
}

void SayPermissionAdvice(const std::filesystem::path& device, int error)
{
    const std::string advice = PermissionAdvice(device, error);
    if (advice.empty()) {
        return;
    }
    static std::mutex lock;
    static std::set<std::filesystem::path> said;
    {
        std::lock_guard guard(lock);
        if (!said.insert(device).second) {
            return;
        }
    }
    platform::host::WriteAll(STDERR_FILENO, std::string(program_invocation_short_name) + ": " + advice + "\n");
}

}  // namespace platform::serial
