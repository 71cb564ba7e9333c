// The host side of the device's files: what an entry is (kind, size, times,
// write permission), copying a file whole or not at all, removing a file and
// making a folder. Failures come back as Win32 error codes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/types.h"

namespace platform::shell {

struct HostEntry {
    bool isDirectory = false;
    bool isRegularFile = false;
    bool readOnly = false;   // the owner may not write it
    std::uint64_t size = 0;
    FILETIME creationTime{};   // the host's birth time where its file system keeps one, else the last write
    FILETIME lastAccessTime{};
    FILETIME lastWriteTime{};
};

// Follows symbolic links; nothing when the entry is missing or unreadable.
std::optional<HostEntry> ReadHostEntry(const std::filesystem::path& path);

enum class ReplaceTarget { No, Yes };

// Copies the content, permissions and times of a regular file to a temporary
// file beside the target, makes it durable, then renames it onto the target:
// the target is the old file or the whole new one, never a part. With
// ReplaceTarget::No an existing target is kept and ERROR_FILE_EXISTS returned,
// even if it appeared while the copy ran.
DWORD CopyWholeFile(const std::filesystem::path& source, const std::filesystem::path& target, ReplaceTarget replace);

DWORD RemoveHostFile(const std::filesystem::path& file);

// Success when the folder exists afterwards; ERROR_ALREADY_EXISTS when a file
// of that name is in the way.
DWORD MakeHostFolder(const std::filesystem::path& folder);

}  // namespace platform::shell
