#include "session/device_root.h"

#include <string>

#include "kernel/guarded_value.h"
#include "platform/boot.h"
#include "platform/strings.h"

namespace platform::session {
namespace {

GuardedValue<std::filesystem::path>& TheRoot()
{
    static GuardedValue<std::filesystem::path> root;
    return root;
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

void SetDeviceRoot(const std::filesystem::path& deviceRoot)
{
    TheRoot().Set(deviceRoot);
}

void ClearDeviceRoot()
{
    SetDeviceRoot({});
}

std::filesystem::path DeviceRoot()
{
    return TheRoot().Get();
}

}  // namespace platform::session

namespace platform {

std::filesystem::path HostPathOf(std::u16string_view devicePath)
{
    const std::filesystem::path root = session::DeviceRoot();
    if (root.empty()) {
        return {};
    }
    std::filesystem::path host = root / "fs";
    return session::AppendElements(host, devicePath) ? host : std::filesystem::path();
}

}  // namespace platform
