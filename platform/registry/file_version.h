// Which version of a hive's file the hive in memory holds, so that a change
// that another process made (it replaces the file) is seen with one stat().
// A regular file's version is kept open: while it is open its inode number
// cannot pass to another file, so a replaced file never looks like the one
// that was read, even with the same size and times.
#pragma once

#include <sys/stat.h>

#include <filesystem>

#include "platform/host/unique_fd.h"

namespace platform::registry {

class FileVersion {
public:
    // No version: whatever is there now counts as changed.
    FileVersion() = default;
    static FileVersion Missing();
    // The file that `info` describes; `open`, when valid, is that file opened.
    static FileVersion Of(const struct stat& info, host::UniqueFd open);

    enum class Look { Same, Changed, CannotTell };
    // Whether the file at `path` is still this version. CannotTell when the
    // path cannot be looked at now (a folder on the way gone or unreadable).
    Look Compare(const std::filesystem::path& path) const;

private:
    enum class Kind { None, Missing, Present };

    bool SameFile(const struct stat& now) const;

    Kind kind_ = Kind::None;
    struct stat info_ {};
    host::UniqueFd open_;
};

}  // namespace platform::registry
