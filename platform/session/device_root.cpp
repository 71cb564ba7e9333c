#include "session/device_root.h"

#include <mutex>
#include <string>

#include "platform/boot.h"
#include "platform/strings.h"

namespace platform::session {
namespace {

struct Folders {
    std::mutex lock;
    std::filesystem::path deviceRoot;
    std::filesystem::path nodeFolder;
};

Folders& TheFolders()
{
    static Folders folders;
    return folders;
}

// Splits a device path at backslashes; false when an element would step out
// of the device's file system.
bool AppendElements(std::filesystem::path& host, std::u16string_view devicePath)
{
    std::size_t start = 0;
    while (start <= devicePath.size()) {
        std::size_t end = devicePath.find(u'\\', start);
        if (end == std::u16string_view::npos) {
            end = devicePath.size();
        }
        const std::u16string_view element = devicePath.substr(start, end - start);
        if (element == u".." || element.find(u'/') != std::u16string_view::npos ||
            element.find(u'\0') != std::u16string_view::npos) {
            return false;
        }
        if (!element.empty() && element != u".") {
            host /= ToUtf8(element);
        }
        start = end + 1;
    }
    return true;
}

}  // namespace

void SetDeviceFolders(const std::filesystem::path& deviceRoot, const std::filesystem::path& nodeFolder)
{
    Folders& folders = TheFolders();
    std::lock_guard guard(folders.lock);
    folders.deviceRoot = deviceRoot;
    folders.nodeFolder = nodeFolder;
}

void ClearDeviceFolders()
{
    SetDeviceFolders({}, {});
}

std::filesystem::path NodeFolder()
{
    Folders& folders = TheFolders();
    std::lock_guard guard(folders.lock);
    return folders.nodeFolder;
}

std::filesystem::path DeviceRoot()
{
    Folders& folders = TheFolders();
    std::lock_guard guard(folders.lock);
    return folders.deviceRoot;
}

}  // namespace platform::session

namespace platform {

std::filesystem::path HostPathOf(std::u16string_view devicePath)
{
    session::Folders& folders = session::TheFolders();
    std::filesystem::path host;
    {
        std::lock_guard guard(folders.lock);
        if (folders.deviceRoot.empty()) {
            return {};
        }
        host = folders.deviceRoot / "fs";
    }
    return session::AppendElements(host, devicePath) ? host : std::filesystem::path();
}

}  // namespace platform
