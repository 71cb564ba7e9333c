// POSIX file calls for the hive files: EINTR is retried, short writes go on.
#include "registry/hive_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <random>
#include <system_error>

#include "platform/host/file_calls.h"
#include "platform/host/interrupted_calls.h"

namespace platform::registry {
namespace {

using host::UniqueFd;

// Temporary files are named after their hive: "system.reg.tmp-" and 16 hex
// digits ("system.reg.tmp" alone was the name of older versions).
constexpr std::string_view kTemporarySuffix = ".tmp";

int OpenRetrying(const std::filesystem::path& path, int flags, mode_t mode = 0)
{
    return host::RetryOnInterrupt([&] { return ::open(path.c_str(), flags | O_CLOEXEC, mode); });
}

std::string ErrorText(int error)
{
    return std::generic_category().message(error);
}

std::string KindOfFile(mode_t mode)
{
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    return S_ISSOCK(mode) ? "a socket" : "a special file";
}

FileRead NotAFile(const struct stat& info)
{
    return {FileRead::Status::NotAFile, {}, KindOfFile(info.st_mode) + ", not a regular file",
            FileVersion::Of(info, UniqueFd())};
}

FileRead Unread(int error)
{
    return error == ENOENT ? FileRead{FileRead::Status::Missing, {}, {}, FileVersion::Missing()}
                           : FileRead{FileRead::Status::Failed, {}, ErrorText(error), FileVersion()};
}

std::string RandomSuffix()
{
    thread_local std::mt19937_64 generator{std::random_device{}()};
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016" PRIx64, static_cast<std::uint64_t>(generator()));
    return std::string("-") + digits;
}

// A new file of this writer's own beside `file`. O_EXCL: never one that
// another writer, or an interrupted one, still has.
UniqueFd CreateTemporaryFile(const std::filesystem::path& file, std::filesystem::path& temporary)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        temporary = file;
        temporary += std::string(kTemporarySuffix) + RandomSuffix();
        UniqueFd created(OpenRetrying(temporary, O_WRONLY | O_CREAT | O_EXCL, 0644));
        if (created.valid() || errno != EEXIST) {
            return created;
        }
    }
    return UniqueFd();
}

}  // namespace

FileRead ReadHiveFile(const std::filesystem::path& file)
{
    // Looked at before it is opened: opening a FIFO or a device could block
    // or act on the device.
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return Unread(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return NotAFile(info);
    }
    UniqueFd input(OpenRetrying(file, O_RDONLY | O_NONBLOCK));
    if (!input.valid() || ::fstat(input.get(), &info) != 0) {
        return Unread(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return NotAFile(info);   // replaced since it was looked at
    }
    std::optional<std::string> text = host::ReadAll(input.get(), std::numeric_limits<std::size_t>::max());
    if (!text) {
        return Unread(errno);
    }
    return {FileRead::Status::Read, std::move(*text), {}, FileVersion::Of(info, std::move(input))};
}

FileWrite WriteHiveFile(const std::filesystem::path& file, std::string_view text)
{
    std::filesystem::path temporary;
    UniqueFd output = CreateTemporaryFile(file, temporary);
    if (!output.valid()) {
        return {WriteOutcome::FailedFileUnchanged, FileVersion()};
    }
    if (!host::WriteAll(output.get(), text) || !host::SyncFile(output.get()) ||
        ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return {WriteOutcome::FailedFileUnchanged, FileVersion()};
    }
    // The descriptor now stands for the renamed file, as the new version.
    struct stat info {};
    FileVersion version = ::fstat(output.get(), &info) == 0 ? FileVersion::Of(info, std::move(output)) : FileVersion();
    const bool durable = host::SyncFolder(file.parent_path());
    return {durable ? WriteOutcome::Written : WriteOutcome::FailedFileReplaced, std::move(version)};
}

void RemoveTemporaryFiles(const std::filesystem::path& file)
{
    const std::string prefix = file.filename().string() + std::string(kTemporarySuffix);
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name == prefix || name.starts_with(prefix + "-")) {
            std::error_code ignored;
            std::filesystem::remove(entry->path(), ignored);
        }
    }
}

}  // namespace platform::registry
