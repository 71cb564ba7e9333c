#include "port_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "platform/host/file_calls.h"
#include "platform/host/interrupted_calls.h"

namespace quorvel {
namespace {

using platform::host::RetryOnInterrupt;
using platform::host::UniqueFd;

// Every time the lock file is found gone under a new lock, its previous
// holder removed it at that moment; a few tries are plenty.
constexpr int kTakeAttempts = 8;

struct flock WholeFileWriteLock()
{
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;   // the whole file
    lock.l_pid = 0;   // required by the OFD calls
    return lock;
}

int OpenRetrying(const std::filesystem::path& path, int flags, mode_t mode = 0)
{
    return RetryOnInterrupt([&] { return ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, mode); });
}

[[noreturn]] void ThrowErrno(int error, const std::filesystem::path& path, const char* what)
{
    throw std::system_error(error, std::generic_category(), path.string() + ": " + what);
}

}  // namespace

std::filesystem::path PortLock::FileFor(const std::filesystem::path& link)
{
    // Built by appending: GCC 12 warns wrongly (-Wrestrict) about "." + string at -O3.
    std::string name = ".";
    name.append(link.filename().string()).append(".lock");
    return link.parent_path() / name;
}

bool PortLock::IsHeld(const std::filesystem::path& link)
{
    const UniqueFd file(OpenRetrying(FileFor(link), O_RDONLY));
    if (!file.valid()) {
        return false;   // no lock file: nobody has published since it was last removed
    }
    struct flock lock = WholeFileWriteLock();
    return ::fcntl(file.get(), F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

bool PortLock::TryTake(const std::filesystem::path& link)
{
    Release();
    const std::filesystem::path path = FileFor(link);
    for (int attempt = 0; attempt < kTakeAttempts; ++attempt) {
        UniqueFd file(OpenRetrying(path, O_RDWR | O_CREAT, 0600));
        if (!file.valid()) {
            ThrowErrno(errno, path, "cannot make the lock file of the port's link");
        }
        struct flock lock = WholeFileWriteLock();
        if (RetryOnInterrupt([&] { return ::fcntl(file.get(), F_OFD_SETLK, &lock); }) != 0) {
            if (errno == EAGAIN || errno == EACCES) {
                return false;
            }
            ThrowErrno(errno, path, "cannot lock the lock file of the port's link");
        }
        if (platform::host::StillNamedBy(file.get(), path)) {
            file_ = std::move(file);
            path_ = path;
            return true;
        }
    }
    ThrowErrno(EAGAIN, path, "keeps changing; cannot lock the port's link");
}

void PortLock::Release()
{
    if (!file_.valid()) {
        return;
    }
    ::unlink(path_.c_str());
    file_ = UniqueFd();
}

}  // namespace quorvel
