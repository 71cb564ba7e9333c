// The host side of a hive's file: reading it whole, and replacing it whole so
// that a crash at any moment leaves either the old file or the new one.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform::registry {

struct FileRead {
    enum class Status { Read, Missing, Failed } status;
    std::string text;    // Read: the file's bytes
    std::string error;   // Failed: why
};
FileRead ReadHiveFile(const std::filesystem::path& file);

enum class WriteOutcome {
    Written,
    FailedFileUnchanged,   // the old file is still in place
    FailedFileReplaced,    // the new file is in place but may not survive a power loss
};
// Writes a temporary file beside `file`, syncs it, renames it over `file` and
// syncs the folder, so the change is on disk when this returns.
WriteOutcome WriteHiveFile(const std::filesystem::path& file, std::string_view text);

// The temporary file that WriteHiveFile uses for `file`. A leftover one, from
// a write that was interrupted, is never read: it is replaced by the next write.
std::filesystem::path TemporaryFileFor(const std::filesystem::path& file);

}  // namespace platform::registry
