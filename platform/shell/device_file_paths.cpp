#include "shell/device_file_paths.h"

#include <system_error>
#include <utility>

#include "platform/boot.h"
#include "platform/strings.h"
#include "registry/names.h"
#include "shell/host_files.h"

namespace platform::shell {
namespace {

namespace fs = std::filesystem;

bool IsDirectory(const fs::path& path)
{
    const std::optional<HostEntry> entry = ReadHostEntry(path);
    return entry.has_value() && entry->isDirectory;
}

// The entry of the folder that has this name in any letter case: the exact
// spelling when it exists, else the first of the others in name order, so
// that the choice does not depend on the order of the host's directory.
fs::path FindEntry(const fs::path& folder, std::u16string_view name)
{
    if (name.empty() || name == u".") {
        return folder;
    }
    std::error_code error;
    const fs::path exact = folder / ToUtf8(name);
    if (fs::exists(fs::symlink_status(exact, error))) {
        return exact;
    }
    fs::path best;
    for (fs::directory_iterator item(folder, error), end; !error && item != end; item.increment(error)) {
        const std::optional<std::u16string> itemName = DeviceNameOf(item->path().filename());
        if (itemName.has_value() && registry::NamesEqual(*itemName, name) && (best.empty() || item->path() < best)) {
            best = item->path();
        }
    }
    return best;
}

// One step down the walk: the folder's subfolder of that name, made when
// asked to.
DWORD StepInto(fs::path& folder, const fs::path& element, MissingFolders missing)
{
    fs::path next = FindEntry(folder, ToUtf16(element.native()));
    if (next.empty()) {
        if (missing == MissingFolders::Fail) {
            return ERROR_PATH_NOT_FOUND;
        }
        next = folder / element;
        if (const DWORD error = MakeHostFolder(next); error != ERROR_SUCCESS) {
            return error;
        }
    } else if (!IsDirectory(next)) {
        return missing == MissingFolders::Create ? ERROR_ALREADY_EXISTS : ERROR_PATH_NOT_FOUND;
    }
    folder = std::move(next);
    return ERROR_SUCCESS;
}

struct FolderWalk {
    DWORD error = ERROR_SUCCESS;
    fs::path folder;
};

// HostPathOf checks the path (a device is up, no element leaves the file
// system) and splits it; the walk then follows its elements below the root.
FolderWalk Walk(std::u16string_view devicePath, MissingFolders missing)
{
    const fs::path root = HostPathOf(u"\\");
    const fs::path literal = HostPathOf(devicePath);
    if (root.empty() || literal.empty()) {
        return {ERROR_PATH_NOT_FOUND, {}};
    }
    FolderWalk walk{ERROR_SUCCESS, root};
    if (missing == MissingFolders::Create) {
        walk.error = MakeHostFolder(root);
    }
    for (const fs::path& element : literal.lexically_relative(root)) {
        if (walk.error != ERROR_SUCCESS) {
            break;
        }
        if (!element.empty() && element != ".") {
            walk.error = StepInto(walk.folder, element, missing);
        }
    }
    if (walk.error == ERROR_SUCCESS && !IsDirectory(walk.folder)) {
        walk.error = ERROR_PATH_NOT_FOUND;   // the device's file system itself is missing
    }
    return walk;
}

}  // namespace

DevicePlace LocateFolderOf(std::u16string_view devicePath)
{
    DevicePlace place;
    const std::size_t split = devicePath.rfind(u'\\');
    const std::u16string_view folder = split == std::u16string_view::npos ? u"" : devicePath.substr(0, split);
    place.name = split == std::u16string_view::npos ? devicePath : devicePath.substr(split + 1);
    if (HostPathOf(devicePath).empty()) {   // the last element is checked too
        place.error = ERROR_PATH_NOT_FOUND;
        return place;
    }
    FolderWalk walk = Walk(folder, MissingFolders::Fail);
    place.error = walk.error;
    place.folder = std::move(walk.folder);
    return place;
}

DevicePlace LocateOnDevice(std::u16string_view devicePath)
{
    DevicePlace place = LocateFolderOf(devicePath);
    if (place.error == ERROR_SUCCESS) {
        place.entry = FindEntry(place.folder, place.name);
    }
    return place;
}

DWORD WalkDeviceFolders(std::u16string_view devicePath, MissingFolders missing)
{
    return Walk(devicePath, missing).error;
}

std::optional<std::u16string> DeviceNameOf(const std::filesystem::path& hostName)
{
    const std::string& bytes = hostName.native();
    std::u16string name = ToUtf16(bytes);
    if (name.size() >= MAX_PATH || ToUtf8(name) != bytes) {
        return std::nullopt;
    }
    return name;
}

}  // namespace platform::shell
