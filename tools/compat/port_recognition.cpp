#include "port_recognition.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "port_folders.h"

namespace tavrel::compat {
namespace {

// UNIX98 pty slaves use majors 136 to 143 (Linux's UNIX98_PTY_SLAVE_MAJOR
// and UNIX98_PTY_MAJOR_COUNT).
constexpr unsigned kFirstSlaveMajor = 136;
constexpr unsigned kSlaveMajorCount = 8;

bool SameDevice(const struct stat& status, const PortIdentity& identity)
{
    return S_ISCHR(status.st_mode) && status.st_dev == identity.filesystem && status.st_rdev == identity.device;
}

// Whether the entry `name` of the open folder is a symbolic link to the pty.
bool LinkLeadsTo(int folder, const char* name, unsigned char type, const PortIdentity& identity)
{
    struct stat status {};
    if (type == DT_UNKNOWN) {
        if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(status.st_mode)) {
            return false;
        }
    } else if (type != DT_LNK) {
        return false;
    }
    return ::fstatat(folder, name, &status, 0) == 0 && SameDevice(status, identity);
}

bool FolderLinksTo(const char* path, const PortIdentity& identity)
{
    const int folder = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return false;
    }
    bool found = false;
    alignas(struct dirent64) char entries[4096];
    ssize_t length = 0;
    while (!found && (length = ::getdents64(folder, entries, sizeof entries)) > 0) {
        for (ssize_t offset = 0; !found && offset < length;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(entries + offset);
            found = LinkLeadsTo(folder, entry->d_name, entry->d_type, identity);
            offset += entry->d_reclen;
        }
    }
    ::close(folder);
    return found;
}

}  // namespace

bool PseudoTerminalSlave(int fd, PortIdentity* identity)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
        return false;
    }
    const unsigned major = ::major(status.st_rdev);
    if (major < kFirstSlaveMajor || major >= kFirstSlaveMajor + kSlaveMajorCount) {
        return false;
    }
    identity->filesystem = status.st_dev;
    identity->device = status.st_rdev;
    return true;
}

int PtyNumber(const PortIdentity& identity)
{
    return static_cast<int>((::major(identity.device) - kFirstSlaveMajor) * 256 + ::minor(identity.device));
}

bool LinkedFromPortFolder(const PortIdentity& identity)
{
    for (int index = 0; index < PortFolderCount(); ++index) {
        if (FolderLinksTo(PortFolder(index), identity)) {
            return true;
        }
    }
    return false;
}

}  // namespace tavrel::compat
