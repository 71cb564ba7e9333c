// Bringing the device up and down: where it lives on the host, its registry,
// its file system, and the drivers that are loaded at boot.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct DeviceSettings {
    std::filesystem::path deviceRoot;   // registry/ and fs/ live here
    // Where drivers publish links to their endpoints. Empty: the person's own
    // folder in the machine's system port folder when that is sound, else
    // ports/ under the device root.
    std::filesystem::path portFolder;
    bool syncHostSerialPorts = true;    // keep Drivers\BuiltIn in step with the host's serial devices
    bool followHostSerialPorts = false; // and keep it so while the device runs (needs syncHostSerialPorts)
    std::filesystem::path hostDevRoot = "/dev";
    std::filesystem::path hostSysRoot = "/sys";
    // The host group that drivers give their endpoints to, where the process
    // may (a member of it, or root); empty: endpoints keep their modes.
    std::string portGroup = "dialout";
    // The machine's folder for the ports of all its users (root's, sticky).
    std::filesystem::path systemPortFolder = "/run/tavrel";
};

struct BootResult {
    bool ok = true;
    std::vector<std::string> problems;   // one line each, for stderr
};

// Mounts the registry hives, brings Drivers\BuiltIn in step with the host's
// serial devices, and activates every driver key below Drivers\BuiltIn. A
// registry file that cannot be read is reported and left untouched; the
// device still comes up. When it follows the host's serial devices, a device
// plugged in or removed later brings the keys in step again (new keys are
// activated; a device whose host device went stays active) and this
// process's top-level windows get WM_DEVICECHANGE with DBT_DEVNODES_CHANGED.
BootResult BootDevice(const DeviceSettings& settings);

// Deactivates every active device, newest first, and unmounts the registry.
void ShutdownDevice();

// The host path of a path in the device's file system ("\Program Files\Tavrel"
// is deviceRoot/fs/Program Files/Tavrel). Empty for a path that would leave it
// (a ".." element) or when no device is up.
std::filesystem::path HostPathOf(std::u16string_view devicePath);

}  // namespace platform

namespace platform {

// The device settings from the process environment: TAVREL_DEVICE_ROOT (by
// default $XDG_DATA_HOME/tavrel, or ~/.local/share/tavrel), TAVREL_PORT_DIR
// (unset: empty, the boot chooses), TAVREL_PORT_GROUP (unset: dialout; set
// and empty: none) and TAVREL_HOST_ROOT (by default none: the host's serial
// devices are read from /dev and /sys, else from its dev/ and sys/).
DeviceSettings DeviceSettingsFromEnvironment();

}  // namespace platform
