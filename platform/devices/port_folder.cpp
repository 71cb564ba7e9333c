#include "devices/port_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/host/unique_fd.h"

namespace platform::devices {
namespace {

std::optional<std::string> UserName()
{
    std::vector<char> buffer(4096);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    return std::string(found->pw_name);
}

std::string ErrnoText(int error)
{
    return std::generic_category().message(error);
}

// Why the system folder cannot hold the ports; empty when it can.
std::string SystemFolderFault(const struct stat& folder)
{
    if (S_ISLNK(folder.st_mode)) {
        return "is a link, not a folder";
    }
    if (!S_ISDIR(folder.st_mode)) {
        return "is not a folder";
    }
    if (folder.st_uid != 0) {
        return "is not root's";
    }
    if ((folder.st_mode & S_ISVTX) == 0) {
        return "is not sticky (it needs mode 1777)";
    }
    return {};
}

// Makes the person's folder if missing (mode 0755, whatever the umask, so
// that services of other users reach the links); why it cannot hold the
// ports, or empty when it can. A folder that was there keeps its mode.
std::string UserFolderFault(const std::filesystem::path& folder)
{
    const bool made = ::mkdir(folder.c_str(), 0755) == 0;
    if (!made && errno != EEXIST) {
        return "cannot be made: " + ErrnoText(errno);
    }
    // O_NOFOLLOW: a link in the folder's place is never followed.
    const host::UniqueFd opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat found {};
    if (!opened.valid()) {
        return errno == ELOOP || errno == ENOTDIR ? "is a link or not a folder" : "cannot be opened: " + ErrnoText(errno);
    }
    if (::fstat(opened.get(), &found) != 0) {
        return "cannot be examined: " + ErrnoText(errno);
    }
    if (found.st_uid != ::geteuid()) {
        return "belongs to someone else";
    }
    if (made && ::fchmod(opened.get(), 0755) != 0) {
        return "cannot be given mode 0755: " + ErrnoText(errno);
    }
    return {};
}

}  // namespace

std::filesystem::path DefaultPortFolder(const DeviceSettings& settings, std::vector<std::string>& problems)
{
    const std::filesystem::path own = settings.deviceRoot / "ports";
    auto refuse = [&](const std::filesystem::path& folder, const std::string& fault) {
        problems.push_back(folder.string() + " " + fault + "; the ports are linked in " + own.string() +
                           " instead");
        return own;
    };
    const std::filesystem::path& system = settings.systemPortFolder;
    struct stat found {};
    if (system.empty()) {
        return own;
    }
    if (::lstat(system.c_str(), &found) != 0) {
        return errno == ENOENT ? own : refuse(system, "cannot be examined: " + ErrnoText(errno));
    }
    if (const std::string fault = SystemFolderFault(found); !fault.empty()) {
        return refuse(system, fault);
    }
    const std::optional<std::string> user = UserName();
    if (!user) {
        return refuse(system, "has no folder for a user without a name");
    }
    const std::filesystem::path mine = system / *user;
    if (const std::string fault = UserFolderFault(mine); !fault.empty()) {
        return refuse(mine, fault);
    }
    return mine;
}

}  // namespace platform::devices
