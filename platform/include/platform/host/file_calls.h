// Host file calls done once and done right, for everyone who writes, syncs or
// reads small files: EINTR is retried, a short write goes on where it stopped,
// a sync reports whether the data is on disk. Header-only, so that driver
// modules, which link nothing of the platform, can use it too.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/host/interrupted_calls.h"
#include "platform/host/unique_fd.h"

namespace platform::host {

// The largest file that ReadSmallFile takes when told no other limit: enough
// for any shortcut, desktop entry or list of ours, and a stray large file is
// refused instead of read into memory.
inline constexpr std::size_t kSmallFileLimit = 64 * 1024;

// Writes every byte; false on an error (errno tells), with part of the text
// possibly written.
inline bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = RetryOnInterrupt([&] { return ::write(fd, text.data(), text.size()); });
        if (written < 0) {
            return false;
        }
        if (written == 0) {
            errno = EIO;   // a write that takes nothing would loop for ever
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// fsync; true once the file's data is on disk.
inline bool SyncFile(int fd)
{
    return RetryOnInterrupt([fd] { return ::fsync(fd); }) == 0;
}

// Makes the names in a folder (a rename, a new file) survive a power loss.
inline bool SyncFolder(const std::filesystem::path& folder)
{
    const char* name = folder.empty() ? "." : folder.c_str();
    const UniqueFd directory(RetryOnInterrupt([name] { return ::open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    return directory.valid() && SyncFile(directory.get());
}

// Everything from the descriptor's position to its end; nothing on a read
// error (errno tells) or when there is more than `limit`.
inline std::optional<std::string> ReadAll(int fd, std::size_t limit)
{
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t count = RetryOnInterrupt([&] { return ::read(fd, chunk, sizeof chunk); });
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            return text;
        }
        if (static_cast<std::size_t>(count) > limit - text.size()) {
            errno = EFBIG;
            return std::nullopt;
        }
        text.append(chunk, static_cast<std::size_t>(count));
    }
}

// The whole content of a small regular file; nothing when it is missing,
// cannot be read, is not a regular file (a FIFO or a device is never waited
// on) or is larger than `limit`. errno tells why.
inline std::optional<std::string> ReadSmallFile(const std::filesystem::path& file,
                                                std::size_t limit = kSmallFileLimit)
{
    std::optional<std::string> text;
    int error = 0;
    {
        const UniqueFd input(
            RetryOnInterrupt([&] { return ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); }));
        struct stat info {};
        if (!input.valid() || ::fstat(input.get(), &info) != 0) {
            error = errno;
        } else if (!S_ISREG(info.st_mode)) {
            error = EINVAL;
        } else {
            text = ReadAll(input.get(), limit);
            error = errno;
        }
    }   // closed here, so that errno still tells why once this returns
    if (!text) {
        errno = error;
    }
    return text;
}

// Whether ReadSmallFile's errno says that it found something that is no small
// file (too large, or not a regular file), rather than nothing or a failure.
inline bool FoundNoSmallFile(int error)
{
    return error == EFBIG || error == EINVAL;
}

// Whether the path still names the open file: a lock file can be unlinked by
// whoever cleans up after its holder, and a lock on a file that no name
// leads to any more guards nothing.
inline bool StillNamedBy(int fd, const std::filesystem::path& path)
{
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) != 0 || ::lstat(path.c_str(), &named) != 0) {
        return false;
    }
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace platform::host
