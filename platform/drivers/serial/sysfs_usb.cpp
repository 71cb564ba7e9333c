#include "drivers/serial/sysfs_usb.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace platform {
namespace {

namespace fs = std::filesystem;

// How far up from a tty's device a USB device may sit (interface, port, device).
constexpr int kDeepestUsbAncestor = 8;
constexpr std::size_t kLongestAttribute = 256;   // bytes read of a sysfs attribute

std::optional<fs::path> Resolved(const fs::path& path)
{
    std::error_code error;
    fs::path target = fs::canonical(path, error);
    return error ? std::nullopt : std::optional<fs::path>(std::move(target));
}

}  // namespace

std::string ReadSysfsAttribute(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::string text(kLongestAttribute, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    text = text.substr(0, text.find('\n'));
    const auto isBlank = [](unsigned char c) { return std::isspace(c) != 0; };
    const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

std::optional<fs::path> UsbDeviceFolder(const fs::path& device, const fs::path& sysRoot)
{
    auto folder = Resolved(device);
    const auto top = Resolved(sysRoot);
    for (int level = 0; folder && level < kDeepestUsbAncestor && folder != top; ++level) {
        std::error_code error;
        if (fs::exists(*folder / "idVendor", error)) {
            return folder;
        }
        if (!folder->has_parent_path() || folder->parent_path() == *folder) {
            break;
        }
        folder = folder->parent_path();
    }
    return std::nullopt;
}

}  // namespace platform
