// The host's serial devices, as the platform's boot lists them to describe
// the built-in ports: every tty of sysfs that has a device behind it (virtual
// consoles and ptys have none), without the legacy UARTs that the kernel
// reserves but found no chip for.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace platform {

struct HostSerialPort {
    std::string path;           // stable host path: /dev/serial/by-id/... when there is one, else /dev/ttyXXX
    std::string kernelName;     // ttyUSB0, ttyACM0, ttyS0 ...
    std::string friendlyName;   // what a person recognises: USB product name when known
};

// devRoot is normally "/dev", sysRoot "/sys"; tests pass fake trees. Ordered
// by kernel name, numbers compared as numbers (ttyS2 before ttyS10). Files
// that cannot be read and links that lead nowhere are skipped, never fatal.
std::vector<HostSerialPort> ScanHostSerialPorts(const std::filesystem::path& devRoot,
                                                const std::filesystem::path& sysRoot);

}  // namespace platform
