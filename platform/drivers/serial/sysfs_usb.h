// What sysfs tells of the USB device that a tty belongs to.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

// The first line of a small sysfs attribute, without surrounding blanks;
// empty when it cannot be read.
std::string ReadSysfsAttribute(const std::filesystem::path& file);

// The folder of the USB device that the device folder `device` belongs to:
// the first of it and its parents that has an idVendor, looking a few levels
// up (interface, port, device) and never above `sysRoot`. Nothing for a
// device that is not on the USB.
std::optional<std::filesystem::path> UsbDeviceFolder(const std::filesystem::path& device,
                                                     const std::filesystem::path& sysRoot);

}  // namespace platform
