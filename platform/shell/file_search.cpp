#include "shell/file_search.h"

#include <algorithm>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "shell/device_file_paths.h"
#include "shell/host_files.h"
#include "shell/name_patterns.h"

namespace platform::shell {
namespace {

DWORD AttributesOf(const HostEntry& entry)
{
    if (entry.isDirectory) {
        return FILE_ATTRIBUTE_DIRECTORY;
    }
    // NORMAL means "no other attribute" and is never combined.
    return entry.readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

// The name must be shorter than MAX_PATH (DeviceNameOf sees to it), so that it
// fits cFileName with its terminator.
WIN32_FIND_DATAW FindDataOf(const HostEntry& entry, std::u16string_view name)
{
    WIN32_FIND_DATAW data{};
    data.dwFileAttributes = AttributesOf(entry);
    data.ftCreationTime = entry.creationTime;
    data.ftLastAccessTime = entry.lastAccessTime;
    data.ftLastWriteTime = entry.lastWriteTime;
    data.nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(entry.size & 0xFFFFFFFFu);
    data.dwOID = 0;
    std::copy(name.begin(), name.end(), data.cFileName);
    return data;
}

std::optional<WIN32_FIND_DATAW> MatchOf(const std::filesystem::path& hostEntry, std::u16string_view pattern)
{
    const std::optional<std::u16string> name = DeviceNameOf(hostEntry.filename());
    if (!name.has_value() || !NameMatchesPattern(*name, pattern)) {
        return std::nullopt;
    }
    const std::optional<HostEntry> entry = ReadHostEntry(hostEntry);
    if (!entry.has_value() || !(entry->isDirectory || entry->isRegularFile)) {
        return std::nullopt;
    }
    return FindDataOf(*entry, *name);
}

bool ByName(const WIN32_FIND_DATAW& left, const WIN32_FIND_DATAW& right)
{
    return std::u16string_view(left.cFileName) < std::u16string_view(right.cFileName);
}

}  // namespace

FileSearch::FileSearch(std::vector<WIN32_FIND_DATAW> found)
    : KernelObject(kernel::ObjectType::FileSearch), found_(std::move(found))
{
}

bool FileSearch::Next(WIN32_FIND_DATAW& data)
{
    std::lock_guard guard(lock_);
    if (next_ == found_.size()) {
        return false;
    }
    data = found_[next_++];
    return true;
}

std::vector<WIN32_FIND_DATAW> FindMatches(const std::filesystem::path& folder, std::u16string_view pattern)
{
    std::vector<WIN32_FIND_DATAW> found;
    std::error_code error;
    for (std::filesystem::directory_iterator item(folder, error), end; !error && item != end; item.increment(error)) {
        if (std::optional<WIN32_FIND_DATAW> match = MatchOf(item->path(), pattern)) {
            found.push_back(*match);
        }
    }
    std::sort(found.begin(), found.end(), ByName);
    return found;
}

}  // namespace platform::shell
