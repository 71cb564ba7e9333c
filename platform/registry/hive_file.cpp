// POSIX file calls for the hive files: EINTR is retried, short writes go on.
#include "registry/hive_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace platform::registry {
namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now, so that a failure to close (a late write error) is seen.
    bool Close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

int OpenRetrying(const std::filesystem::path& path, int flags, mode_t mode = 0)
{
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool SyncRetrying(int fd)
{
    int result = 0;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool WriteSynced(const std::filesystem::path& path, std::string_view text)
{
    UniqueFd file(OpenRetrying(path, O_WRONLY | O_CREAT | O_TRUNC, 0644));
    return file.valid() && WriteAll(file.get(), text) && SyncRetrying(file.get()) && file.Close();
}

bool SyncFolder(const std::filesystem::path& folder)
{
    UniqueFd directory(OpenRetrying(folder, O_RDONLY | O_DIRECTORY));
    return directory.valid() && SyncRetrying(directory.get());
}

std::string ErrorText(int error)
{
    return std::generic_category().message(error);
}

}  // namespace

std::filesystem::path TemporaryFileFor(const std::filesystem::path& file)
{
    std::filesystem::path temporary = file;
    temporary += ".tmp";
    return temporary;
}

FileRead ReadHiveFile(const std::filesystem::path& file)
{
    UniqueFd input(OpenRetrying(file, O_RDONLY));
    if (!input.valid()) {
        return errno == ENOENT ? FileRead{FileRead::Status::Missing, {}, {}}
                               : FileRead{FileRead::Status::Failed, {}, ErrorText(errno)};
    }
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t count = ::read(input.get(), chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return {FileRead::Status::Failed, {}, ErrorText(errno)};
        }
        if (count == 0) {
            return {FileRead::Status::Read, std::move(text), {}};
        }
        text.append(chunk, static_cast<std::size_t>(count));
    }
}

WriteOutcome WriteHiveFile(const std::filesystem::path& file, std::string_view text)
{
    const std::filesystem::path temporary = TemporaryFileFor(file);
    if (!WriteSynced(temporary, text) || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return WriteOutcome::FailedFileUnchanged;
    }
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    return SyncFolder(folder) ? WriteOutcome::Written : WriteOutcome::FailedFileReplaced;
}

}  // namespace platform::registry
