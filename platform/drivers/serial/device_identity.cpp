#include "drivers/serial/device_identity.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "drivers/serial/sysfs_usb.h"

namespace platform::serial {
namespace {

namespace fs = std::filesystem;

// Unix98 pseudo-terminal slaves have majors 136 to 143.
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kPtySlaveMajors = 8;

template <std::size_t Size>
void CopyText(char (&field)[Size], const std::string& text)
{
    const std::size_t length = std::min(text.size(), Size - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

WORD HexWord(const std::string& text)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return error == std::errc() && end == text.data() + text.size() && value <= 0xFFFF ? static_cast<WORD>(value) : 0;
}

// Vendor, product, serial number and USB port of a device on the USB.
void AddUsbIdentity(COMM_DEVICE_IDENTITY& identity, dev_t device, const fs::path& sysRoot)
{
    const fs::path node = sysRoot / "dev" / "char" / (std::to_string(major(device)) + ":" + std::to_string(minor(device)));
    const auto usbDevice = UsbDeviceFolder(node, sysRoot);
    if (!usbDevice) {
        return;
    }
    identity.flags |= COMM_IDENTITY_USB;
    identity.usbVendor = HexWord(ReadSysfsAttribute(*usbDevice / "idVendor"));
    identity.usbProduct = HexWord(ReadSysfsAttribute(*usbDevice / "idProduct"));
    CopyText(identity.usbSerial, ReadSysfsAttribute(*usbDevice / "serial"));
    CopyText(identity.usbPort, usbDevice->filename().string());
}

COMM_DEVICE_IDENTITY IdentityOf(const struct stat& device, const std::string& hostPath, const fs::path& sysRoot)
{
    COMM_DEVICE_IDENTITY identity{};
    identity.deviceNumber = device.st_rdev;
    identity.owner = device.st_uid;
    const unsigned deviceMajor = major(device.st_rdev);
    if (deviceMajor >= kFirstPtySlaveMajor && deviceMajor < kFirstPtySlaveMajor + kPtySlaveMajors) {
        identity.flags |= COMM_IDENTITY_PSEUDO_TERMINAL;
    } else {
        AddUsbIdentity(identity, device.st_rdev, sysRoot);
    }
    struct stat link {};
    if (::lstat(hostPath.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        identity.flags |= COMM_IDENTITY_THROUGH_LINK;
        identity.linkNumber = link.st_ino;
        identity.linkChanged = static_cast<ULONGLONG>(link.st_ctim.tv_sec) * 1'000'000'000ULL +
                               static_cast<ULONGLONG>(link.st_ctim.tv_nsec);
    }
    return identity;
}

bool Has(const COMM_DEVICE_IDENTITY& identity, DWORD flag)
{
    return (identity.flags & flag) != 0;
}

bool SameUsbDevice(const COMM_DEVICE_IDENTITY& remembered, const COMM_DEVICE_IDENTITY& found)
{
    if (remembered.usbVendor != found.usbVendor || remembered.usbProduct != found.usbProduct ||
        std::strcmp(remembered.usbSerial, found.usbSerial) != 0) {
        return false;
    }
    // Two adapters of one make without serial numbers differ only by where they are plugged in.
    return remembered.usbSerial[0] != '\0' || std::strcmp(remembered.usbPort, found.usbPort) == 0;
}

DWORD CompareThroughLink(const COMM_DEVICE_IDENTITY& remembered, const COMM_DEVICE_IDENTITY& found)
{
    if (!Has(found, COMM_IDENTITY_THROUGH_LINK)) {
        return COMM_DEVICE_OTHER_DEVICE;
    }
    if (found.owner != remembered.owner) {
        return COMM_DEVICE_OTHER_OWNER;
    }
    const bool sameLink = found.linkNumber == remembered.linkNumber && found.linkChanged == remembered.linkChanged;
    if (Has(found, COMM_IDENTITY_PSEUDO_TERMINAL) && found.deviceNumber == remembered.deviceNumber && sameLink) {
        return COMM_DEVICE_STALE_LINK;
    }
    return COMM_DEVICE_SAME;
}

DWORD CompareNamedDirectly(const COMM_DEVICE_IDENTITY& remembered, const COMM_DEVICE_IDENTITY& found)
{
    if (Has(found, COMM_IDENTITY_THROUGH_LINK) || Has(found, COMM_IDENTITY_USB) ||
        found.deviceNumber != remembered.deviceNumber) {
        return COMM_DEVICE_OTHER_DEVICE;
    }
    return found.owner == remembered.owner ? COMM_DEVICE_SAME : COMM_DEVICE_OTHER_OWNER;
}

}  // namespace

COMM_DEVICE_IDENTITY IdentifyOpenDevice(int fd, const std::string& hostPath, const fs::path& sysRoot)
{
    struct stat device {};
    if (::fstat(fd, &device) != 0) {
        return COMM_DEVICE_IDENTITY{};
    }
    return IdentityOf(device, hostPath, sysRoot);
}

DWORD IdentifyDeviceAt(const std::string& hostPath, COMM_DEVICE_IDENTITY& identity, const fs::path& sysRoot)
{
    identity = COMM_DEVICE_IDENTITY{};
    struct stat device {};
    if (::stat(hostPath.c_str(), &device) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
    }
    if (!S_ISCHR(device.st_mode)) {
        return ERROR_NOT_SUPPORTED;
    }
    identity = IdentityOf(device, hostPath, sysRoot);
    return ERROR_SUCCESS;
}

DWORD CompareDeviceIdentities(const COMM_DEVICE_IDENTITY* remembered, const COMM_DEVICE_IDENTITY& found)
{
    const bool ptyByNumber = Has(found, COMM_IDENTITY_PSEUDO_TERMINAL) && !Has(found, COMM_IDENTITY_THROUGH_LINK);
    if (remembered == nullptr) {
        return ptyByNumber ? COMM_DEVICE_PSEUDO_TERMINAL_BY_NUMBER : COMM_DEVICE_SAME;
    }
    if (Has(*remembered, COMM_IDENTITY_USB)) {
        if (!Has(found, COMM_IDENTITY_USB)) {
            return COMM_DEVICE_OTHER_DEVICE;
        }
        return SameUsbDevice(*remembered, found) ? COMM_DEVICE_SAME : COMM_DEVICE_OTHER_USB_DEVICE;
    }
    if (Has(*remembered, COMM_IDENTITY_THROUGH_LINK)) {
        return CompareThroughLink(*remembered, found);
    }
    if (Has(*remembered, COMM_IDENTITY_PSEUDO_TERMINAL) || ptyByNumber) {
        return COMM_DEVICE_PSEUDO_TERMINAL_BY_NUMBER;
    }
    return CompareNamedDirectly(*remembered, found);
}

}  // namespace platform::serial
