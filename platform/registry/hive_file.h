// The host side of a hive's file: reading it whole without ever blocking, and
// replacing it whole so that a crash at any moment leaves either the old file
// or the new one.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "registry/file_version.h"

namespace platform::registry {

struct FileRead {
    enum class Status {
        Read,
        Missing,
        NotAFile,   // a FIFO, a device, a folder...: never opened for reading
        Failed,     // could not be read now
    } status;
    std::string text;      // Read: the file's bytes
    std::string error;     // NotAFile, Failed: why
    FileVersion version;   // what was found (Read, Missing, NotAFile)
};
FileRead ReadHiveFile(const std::filesystem::path& file);

enum class WriteOutcome {
    Written,
    FailedFileUnchanged,   // the old file is still in place
    FailedFileReplaced,    // the new file is in place but may not survive a power loss
};
struct FileWrite {
    WriteOutcome outcome;
    FileVersion version;   // Written: the new file
};
// Writes a temporary file of this call's own beside `file` (a new, unique
// name; removed if anything fails), syncs it, renames it over `file` and
// syncs the folder, so the change is on disk when this returns.
FileWrite WriteHiveFile(const std::filesystem::path& file, std::string_view text);

// Removes the temporary files that writes of `file` left when they were
// interrupted. They are never read; call this only while no write of `file`
// can be under way.
void RemoveTemporaryFiles(const std::filesystem::path& file);

}  // namespace platform::registry
