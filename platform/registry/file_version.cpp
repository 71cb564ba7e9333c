#include "registry/file_version.h"

#include <cerrno>

namespace platform::registry {
namespace {

bool SameTime(const timespec& left, const timespec& right)
{
    return left.tv_sec == right.tv_sec && left.tv_nsec == right.tv_nsec;
}

}  // namespace

FileVersion FileVersion::Missing()
{
    FileVersion version;
    version.kind_ = Kind::Missing;
    return version;
}

FileVersion FileVersion::Of(const struct stat& info, host::UniqueFd open)
{
    FileVersion version;
    version.kind_ = Kind::Present;
    version.info_ = info;
    version.open_ = std::move(open);
    return version;
}

FileVersion::Look FileVersion::Compare(const std::filesystem::path& path) const
{
    if (kind_ == Kind::None) {
        return Look::Changed;
    }
    struct stat now {};
    if (::stat(path.c_str(), &now) != 0) {
        if (errno == ENOENT) {
            return kind_ == Kind::Missing ? Look::Same : Look::Changed;
        }
        return Look::CannotTell;
    }
    return kind_ == Kind::Present && SameFile(now) ? Look::Same : Look::Changed;
}

// The same inode, unchanged: an edit in place moves the change time too.
bool FileVersion::SameFile(const struct stat& now) const
{
    return now.st_dev == info_.st_dev && now.st_ino == info_.st_ino && now.st_mode == info_.st_mode &&
           now.st_size == info_.st_size && SameTime(now.st_mtim, info_.st_mtim) &&
           SameTime(now.st_ctim, info_.st_ctim);
}

}  // namespace platform::registry
