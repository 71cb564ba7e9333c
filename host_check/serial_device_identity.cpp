// Who a serial device is: what sysfs and the by-id links say of its node.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>

#include "host_check/host_files.h"
#include "host_check/serial_device_check.h"

namespace tavrel::host_check {
namespace {

namespace fs = std::filesystem;

// How far up from a tty's device its USB device may sit: ttyUSB0's own
// device, its interface, the USB device.
constexpr int kDeepestUsbAncestor = 4;

bool IsDigits(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool IsHexDigits(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

// A USB id as sysfs writes it, 4 hex digits; anything else is no id.
std::string UsbId(const fs::path& attribute)
{
    const std::string id = FirstLine(attribute);
    return id.size() == 4 && IsHexDigits(id) ? id : std::string();
}

bool IsDeviceNumber(const std::string& text)
{
    const std::size_t colon = text.find(':');
    return colon != std::string::npos && IsDigits(text.substr(0, colon)) && IsDigits(text.substr(colon + 1));
}

// "188:0" as the kernel writes it in the tty's dev attribute.
std::string SysfsDeviceNumber(const fs::path& attribute)
{
    const std::string number = FirstLine(attribute);
    return IsDeviceNumber(number) ? number : std::string();
}

// The same from the node itself, for a tty that sysfs does not list (a pseudo-terminal).
std::string NodeDeviceNumber(const fs::path& node)
{
    struct stat device {};
    if (::stat(node.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) {
        return {};
    }
    return std::to_string(major(device.st_rdev)) + ":" + std::to_string(minor(device.st_rdev));
}

// The node's name below the device folder (ttyUSB0, pts/3). A node elsewhere
// has none: sysfs would tell of another device that happens to share its
// file name.
std::string KernelName(const fs::path& node, const fs::path& devRoot)
{
    const std::optional<fs::path> dev = Resolved(devRoot);
    const fs::path inside = dev ? node.lexically_relative(*dev) : fs::path();
    const bool below = !inside.empty() && *inside.begin() != ".." && inside != ".";
    return below ? inside.string() : std::string();
}

std::vector<std::string> ByIdLinksTo(const fs::path& node, const fs::path& devRoot)
{
    std::vector<std::string> links;
    for (const fs::path& link : FolderEntries(devRoot / "serial" / "by-id")) {
        if (Resolved(link) == node) {
            links.push_back(link.string());
        }
    }
    return links;
}

// The USB device folder above a tty's device folder, never above sysfs itself.
std::optional<fs::path> UsbDeviceAbove(const fs::path& device, const fs::path& sysRoot)
{
    const std::optional<fs::path> top = Resolved(sysRoot);
    std::optional<fs::path> folder = Resolved(device);
    for (int level = 0; folder && top && folder != top && level < kDeepestUsbAncestor; ++level) {
        if (Exists(*folder / "idVendor")) {
            return folder;
        }
        folder = folder->parent_path();
    }
    return std::nullopt;
}

void AddHardware(SerialDeviceIdentity& identity, const fs::path& device, const fs::path& sysRoot)
{
    if (const std::optional<fs::path> driver = Resolved(device / "driver")) {
        identity.driver = driver->filename().string();
    }
    const std::optional<fs::path> usb = UsbDeviceAbove(device, sysRoot);
    if (!usb) {
        return;
    }
    identity.usbVendor = UsbId(*usb / "idVendor");
    identity.usbProduct = UsbId(*usb / "idProduct");
    identity.serialNumber = FirstLine(*usb / "serial");
    identity.manufacturer = FirstLine(*usb / "manufacturer");
    identity.product = FirstLine(*usb / "product");
}

// Whether a kernel name can stand in a sysfs path or a udev rule as it is.
bool PlainName(const std::string& name)
{
    return !name.empty() && name.front() != '.' && std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) != 0 || c == '_' || c == '-' || c == '.' || c == ':';
    });
}

}  // namespace

HostRoots HostRootsUnder(const fs::path& top)
{
    return HostRoots{top / "sys", top / "dev", top / "proc", top / "run" / "udev" / "data", top};
}

SerialDeviceIdentity DescribeSerialDevice(const std::string& path, const HostRoots& roots)
{
    SerialDeviceIdentity identity;
    const std::optional<fs::path> node = path.empty() ? std::nullopt : Resolved(path);
    if (!node) {
        return identity;
    }
    identity.node = node->string();
    identity.kernelName = KernelName(*node, roots.dev);
    identity.byIdLinks = ByIdLinksTo(*node, roots.dev);
    if (PlainName(identity.kernelName)) {
        const fs::path classEntry = roots.sys / "class" / "tty" / identity.kernelName;
        identity.deviceNumber = SysfsDeviceNumber(classEntry / "dev");
        AddHardware(identity, classEntry / "device", roots.sys);
    }
    if (identity.deviceNumber.empty()) {
        identity.deviceNumber = NodeDeviceNumber(*node);
    }
    return identity;
}

std::string UdevIgnoreRule(const SerialDeviceIdentity& identity)
{
    const std::string ignore = "ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
    if (!identity.usbVendor.empty() && !identity.usbProduct.empty()) {
        return "ATTRS{idVendor}==\"" + identity.usbVendor + "\", ATTRS{idProduct}==\"" + identity.usbProduct + "\", " +
               ignore;
    }
    return PlainName(identity.kernelName) ? "KERNEL==\"" + identity.kernelName + "\", " + ignore : std::string();
}

}  // namespace tavrel::host_check
