// Reads sysfs (class/tty) and the udev links under /dev/serial/by-id.
#include "drivers/serial/host_serial_ports.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <system_error>

#include "drivers/serial/sysfs_usb.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t longestFriendlyName = 60;   // characters

bool HasDevice(const fs::path& ttyEntry)
{
    std::error_code error;
    return fs::symlink_status(ttyEntry / "device", error).type() != fs::file_type::not_found && !error;
}

// A legacy UART slot (ttyS1..ttyS31 on a PC) that the kernel keeps although
// no chip answered: its port type is 0, PORT_UNKNOWN. Opening it fails.
bool IsPhantomUart(const fs::path& ttyEntry)
{
    return ReadSysfsAttribute(ttyEntry / "type") == "0";
}

std::optional<fs::path> Resolved(const fs::path& path)
{
    std::error_code error;
    fs::path target = fs::canonical(path, error);
    return error ? std::nullopt : std::optional<fs::path>(std::move(target));
}

// The by-id links by the device node that they lead to. Dangling links and a
// missing folder are normal (no USB adapter, no udev).
std::map<fs::path, fs::path> ReadByIdLinks(const fs::path& devRoot)
{
    std::vector<fs::path> links;
    std::error_code error;
    for (fs::directory_iterator entry(devRoot / "serial" / "by-id", error), end; !error && entry != end;
         entry.increment(error)) {
        links.push_back(entry->path());
    }
    // In name order, so that a device with several links always gets the same one.
    std::sort(links.begin(), links.end());
    std::map<fs::path, fs::path> byNode;
    for (const fs::path& link : links) {
        if (const auto node = Resolved(link)) {
            byNode.emplace(*node, link);
        }
    }
    return byNode;
}

std::string StablePath(const fs::path& devRoot, const std::string& kernelName,
                       const std::map<fs::path, fs::path>& byIdLinks)
{
    const fs::path node = devRoot / kernelName;
    if (const auto resolved = Resolved(node)) {
        if (const auto link = byIdLinks.find(*resolved); link != byIdLinks.end()) {
            return link->second.string();
        }
    }
    return node.string();
}

// Whole characters of UTF-8 text, control characters made blanks.
std::string Printable(const std::string& text, std::size_t maxCharacters)
{
    std::string result;
    std::size_t characters = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool continuation = (byte & 0xC0) == 0x80;
        if (!continuation && ++characters > maxCharacters) {
            break;
        }
        result.push_back(byte < 0x20 || byte == 0x7F ? ' ' : c);
    }
    result.erase(result.find_last_not_of(' ') + 1);
    return result;
}

// The product name of the USB device that the tty belongs to.
std::string UsbProductName(const fs::path& ttyEntry, const fs::path& sysRoot)
{
    const auto usbDevice = UsbDeviceFolder(ttyEntry / "device", sysRoot);
    return usbDevice ? Printable(ReadSysfsAttribute(*usbDevice / "product"), longestFriendlyName) : std::string();
}

std::string FriendlyName(const fs::path& ttyEntry, const fs::path& sysRoot, const std::string& kernelName)
{
    std::string product = UsbProductName(ttyEntry, sysRoot);
    return !product.empty() ? product : "Serial port " + kernelName;
}

// Kernel names are a stem and a number (ttyS10, ttyUSB0): ordered by stem,
// then by the number's value, so ttyS2 comes before ttyS10 and ttyS10 before
// ttyUSB0. Numbers are compared as digit strings, so no name can overflow.
struct NaturalKey {
    std::string stem;
    std::size_t numberLength;
    std::string number;
    std::string name;

    auto operator<=>(const NaturalKey&) const = default;
};

NaturalKey NaturalKeyOf(const std::string& name)
{
    const auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    const std::size_t stemEnd = static_cast<std::size_t>(
        std::find_if_not(name.rbegin(), name.rend(), isDigit).base() - name.begin());
    std::string number = name.substr(stemEnd);
    number.erase(0, std::min(number.find_first_not_of('0'), number.size()));
    return NaturalKey{name.substr(0, stemEnd), number.size(), number, name};
}

std::optional<HostSerialPort> DescribePort(const fs::path& ttyEntry, const fs::path& devRoot,
                                           const fs::path& sysRoot, const std::map<fs::path, fs::path>& byIdLinks)
{
    if (!HasDevice(ttyEntry) || IsPhantomUart(ttyEntry)) {
        return std::nullopt;
    }
    const std::string kernelName = ttyEntry.filename().string();
    return HostSerialPort{StablePath(devRoot, kernelName, byIdLinks), kernelName,
                          FriendlyName(ttyEntry, sysRoot, kernelName)};
}

}  // namespace

std::vector<HostSerialPort> ScanHostSerialPorts(const fs::path& devRoot, const fs::path& sysRoot)
{
    const std::map<fs::path, fs::path> byIdLinks = ReadByIdLinks(devRoot);
    std::vector<HostSerialPort> ports;
    std::error_code error;
    for (fs::directory_iterator entry(sysRoot / "class" / "tty", error), end; !error && entry != end;
         entry.increment(error)) {
        if (auto port = DescribePort(entry->path(), devRoot, sysRoot, byIdLinks)) {
            ports.push_back(std::move(*port));
        }
    }
    std::sort(ports.begin(), ports.end(), [](const HostSerialPort& left, const HostSerialPort& right) {
        return NaturalKeyOf(left.kernelName) < NaturalKeyOf(right.kernelName);
    });
    return ports;
}

}  // namespace platform
