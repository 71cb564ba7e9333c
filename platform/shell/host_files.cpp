// POSIX file calls behind the device's file system.
#include "shell/host_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/host/file_calls.h"
#include "platform/host/interrupted_calls.h"
#include "platform/host/unique_fd.h"

namespace platform::shell {
namespace {

using host::UniqueFd;

// What an errno means to a Win32 caller. ENOENT is a missing file or a
// missing folder depending on what the call was looking for.
DWORD ErrorFromErrno(int error, DWORD missing = ERROR_FILE_NOT_FOUND)
{
    switch (error) {
    case ENOENT:
        return missing;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBUSY:
    case ETXTBSY:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
    case ENOTEMPTY:
        return ERROR_FILE_EXISTS;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:   // EIO, ENOSPC, EDQUOT, EMFILE...
        return ERROR_GEN_FAILURE;
    }
}

DWORD LastErrno(DWORD missing = ERROR_FILE_NOT_FOUND)
{
    return ErrorFromErrno(errno, missing);
}

// 100-nanosecond intervals since 1 January 1601, clamped to what a FILETIME holds.
FILETIME FileTimeOf(std::int64_t seconds, std::uint32_t nanoseconds)
{
    constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
    constexpr std::uint64_t kTicksPerSecond = 10'000'000;
    constexpr auto kLastSecond = static_cast<std::int64_t>(std::numeric_limits<std::uint64_t>::max() / kTicksPerSecond -
                                                            kSecondsFrom1601To1970 - 1);
    std::uint64_t ticks = 0;
    if (seconds > kLastSecond) {
        ticks = std::numeric_limits<std::uint64_t>::max();
    } else if (seconds >= -kSecondsFrom1601To1970) {
        ticks = static_cast<std::uint64_t>(seconds + kSecondsFrom1601To1970) * kTicksPerSecond + nanoseconds / 100;
    }
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

FILETIME FileTimeOf(const struct statx_timestamp& time)
{
    return FileTimeOf(time.tv_sec, time.tv_nsec);
}

struct statx_timestamp StatxTimeOf(const struct timespec& time)
{
    struct statx_timestamp converted {};
    converted.tv_sec = time.tv_sec;
    converted.tv_nsec = static_cast<std::uint32_t>(time.tv_nsec);
    return converted;
}

// For a host whose kernel or sandbox refuses statx: the same fields from stat,
// without a birth time.
bool StatInstead(const std::filesystem::path& path, struct statx& info)
{
    struct stat fallback {};
    if (::stat(path.c_str(), &fallback) != 0) {
        return false;
    }
    info.stx_mask = STATX_BASIC_STATS;
    info.stx_mode = static_cast<std::uint16_t>(fallback.st_mode);
    info.stx_size = static_cast<std::uint64_t>(fallback.st_size);
    info.stx_atime = StatxTimeOf(fallback.st_atim);
    info.stx_mtime = StatxTimeOf(fallback.st_mtim);
    return true;
}

HostEntry EntryOf(const struct statx& info)
{
    HostEntry entry;
    entry.isDirectory = S_ISDIR(info.stx_mode);
    entry.isRegularFile = S_ISREG(info.stx_mode);
    entry.readOnly = (info.stx_mode & S_IWUSR) == 0;
    entry.size = entry.isRegularFile ? info.stx_size : 0;
    entry.lastAccessTime = FileTimeOf(info.stx_atime);
    entry.lastWriteTime = FileTimeOf(info.stx_mtime);
    entry.creationTime = (info.stx_mask & STATX_BTIME) != 0 ? FileTimeOf(info.stx_btime) : entry.lastWriteTime;
    return entry;
}

DWORD CopyContent(int from, int to)
{
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t got = host::RetryOnInterrupt([&] { return ::read(from, buffer.data(), buffer.size()); });
        if (got < 0) {
            return LastErrno();
        }
        if (got == 0) {
            return ERROR_SUCCESS;
        }
        if (!host::WriteAll(to, std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
            return LastErrno();
        }
    }
}

// The copy keeps the source's permission bits (so a read-only file stays
// read-only) and its access and write times, as CopyFile does on the device.
DWORD CopyAttributes(int to, const struct stat& source)
{
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (::fchmod(to, source.st_mode & 0777) != 0 || ::futimens(to, times) != 0) {
        return LastErrno();
    }
    return ERROR_SUCCESS;
}

// Moves the finished file onto its name, atomically in both modes.
int Publish(const std::filesystem::path& from, const std::filesystem::path& to, ReplaceTarget replace)
{
    if (replace == ReplaceTarget::Yes) {
        return ::rename(from.c_str(), to.c_str());
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
    // A file system without RENAME_NOREPLACE: a hard link refuses an existing
    // name just as atomically.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return -1;
    }
    ::unlink(from.c_str());
    return 0;
}

// A new file beside the target, removed again unless it was published.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::filesystem::path& folder)
    {
        std::string name = (folder / ".copy-XXXXXX").string();
        fd_ = UniqueFd(::mkostemp(name.data(), O_CLOEXEC));
        if (fd_.valid()) {
            path_ = name;
        }
    }
    ~TemporaryFile()
    {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }

    DWORD PublishAs(const std::filesystem::path& target, ReplaceTarget replace)
    {
        if (!host::SyncFile(fd_.get())) {
            return LastErrno();
        }
        fd_ = UniqueFd();
        if (Publish(path_, target, replace) != 0) {
            return LastErrno(ERROR_PATH_NOT_FOUND);
        }
        path_.clear();
        // Makes the rename itself survive a power loss; a failure here
        // changes nothing that the caller could act on.
        host::SyncFolder(target.parent_path());
        return ERROR_SUCCESS;
    }

private:
    UniqueFd fd_;
    std::filesystem::path path_;
};

}  // namespace

std::optional<HostEntry> ReadHostEntry(const std::filesystem::path& path)
{
    struct statx info {};
    if (::statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &info) == 0) {
        return EntryOf(info);
    }
    if ((errno == ENOSYS || errno == EPERM) && StatInstead(path, info)) {
        return EntryOf(info);
    }
    return std::nullopt;
}

DWORD CopyWholeFile(const std::filesystem::path& source, const std::filesystem::path& target, ReplaceTarget replace)
{
    // Non-blocking, so that a FIFO in the source's place cannot hang the open.
    const UniqueFd input(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat sourceInfo {};
    if (!input.valid() || ::fstat(input.get(), &sourceInfo) != 0) {
        return LastErrno();
    }
    if (!S_ISREG(sourceInfo.st_mode)) {
        return ERROR_ACCESS_DENIED;
    }
    TemporaryFile copy(target.parent_path());
    if (!copy.valid()) {
        return LastErrno(ERROR_PATH_NOT_FOUND);
    }
    DWORD error = CopyContent(input.get(), copy.fd());
    if (error == ERROR_SUCCESS) {
        error = CopyAttributes(copy.fd(), sourceInfo);
    }
    return error == ERROR_SUCCESS ? copy.PublishAs(target, replace) : error;
}

DWORD RemoveHostFile(const std::filesystem::path& file)
{
    return ::unlink(file.c_str()) == 0 ? ERROR_SUCCESS : LastErrno();
}

DWORD MakeHostFolder(const std::filesystem::path& folder)
{
    if (::mkdir(folder.c_str(), 0777) == 0) {
        return ERROR_SUCCESS;
    }
    if (errno != EEXIST) {
        return LastErrno(ERROR_PATH_NOT_FOUND);
    }
    const std::optional<HostEntry> existing = ReadHostEntry(folder);   // made by someone else meanwhile?
    return existing.has_value() && existing->isDirectory ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
}

}  // namespace platform::shell
