// Bringing the device up: its root, folders, registry, built-in ports and
// drivers, and its named objects and windows shared with its other processes.
// Each layer is started and stopped here through a small entry of its own.
#include "platform/boot.h"

#include <cstdio>
#include <memory>

#include "devices/builtin_serial_ports.h"
#include "devices/device_manager.h"
#include "devices/device_paths.h"
#include "devices/port_folder.h"
#include "drivers/serial/host_serial_ports.h"
#include "drivers/serial/host_serial_watch.h"
#include "drivers/serial/serial_driver.h"
#include "kernel/shared_names.h"
#include "platform/driver_modules.h"
#include "platform/registry.h"
#include "registry/hives.h"
#include "session/device_root.h"
#include "session/named_object_sharing.h"
#include "user/device_change.h"
#include "user/device_windows.h"

namespace platform {
namespace {

std::vector<devices::HostPort> PresentSerialPorts(const std::filesystem::path& devRoot,
                                                  const std::filesystem::path& sysRoot)
{
    std::vector<devices::HostPort> ports;
    for (const HostSerialPort& port : ScanHostSerialPorts(devRoot, sysRoot)) {
        ports.push_back({port.path, port.kernelName, port.friendlyName});
    }
    return ports;
}

// The watch of the host's serial devices while the device is up; none when
// it does not follow them.
std::unique_ptr<serial::HostSerialWatch>& SerialWatch()
{
    static std::unique_ptr<serial::HostSerialWatch> watch;
    return watch;
}

// A host serial device came or went: the built-in ports follow, under the
// machine hive's lock as at boot, and the program's windows are told.
void ResyncWithHost(const std::filesystem::path& devRoot, const std::filesystem::path& sysRoot)
{
    std::vector<std::string> problems;
    {
        const registry::HeldHive machineHive(HKEY_LOCAL_MACHINE);
        devices::ResyncBuiltInSerialPorts(PresentSerialPorts(devRoot, sysRoot), problems);
    }
    for (const std::string& problem : problems) {
        std::fprintf(stderr, "platform: %s\n", problem.c_str());
    }
    user::TellWindowsDevicesChanged();
}

void FollowHostSerialPorts(const DeviceSettings& settings, std::vector<std::string>& problems)
{
    std::string problem;
    SerialWatch() = serial::HostSerialWatch::Start(
        settings.hostDevRoot,
        [devRoot = settings.hostDevRoot, sysRoot = settings.hostSysRoot] { ResyncWithHost(devRoot, sysRoot); }, {},
        problem);
    if (SerialWatch() == nullptr) {
        problems.push_back(problem + "; a serial device plugged in now is listed at the next start");
    }
}

// The folders that every device's file system has from the start.
void CreateStandardFolders(std::vector<std::string>& problems)
{
    for (const char16_t* folder : {u"\\Windows\\StartUp", u"\\Windows\\Start Menu\\Programs", u"\\Program Files",
                                   u"\\My Documents"}) {
        std::error_code error;
        std::filesystem::create_directories(HostPathOf(folder), error);
        if (error) {
            problems.push_back("cannot create " + HostPathOf(folder).string() + ": " + error.message());
        }
    }
}

}  // namespace

BootResult BootDevice(const DeviceSettings& settings)
{
    BootResult result;
    const auto nodeFolder =
        settings.portFolder.empty() ? devices::DefaultPortFolder(settings, result.problems) : settings.portFolder;
    // Named kernel objects are known to the other processes of the device
    // that is up (the sharing follows the device root, so none between boots).
    kernel::ShareNames(&session::DeviceNameSharing());
    session::SetDeviceRoot(settings.deviceRoot);
    devices::SetNodeFolder(nodeFolder);
    devices::SetPortGroup(settings.portGroup);
    CreateStandardFolders(result.problems);

    registry::MountResult mounted = registry::MountHives(settings.deviceRoot / "registry");
    result.ok = mounted.ok;
    result.problems.insert(result.problems.end(), mounted.errors.begin(), mounted.errors.end());

    RegisterBuiltInModule(u"serial.dll", HostSerialDriverEntries());
    {
        // Other processes of the device may boot at the same moment: each
        // reads the keys, decides and writes while the others wait, so no key
        // is parked, created or filled in twice from a view that is out of date.
        const registry::HeldHive machineHive(HKEY_LOCAL_MACHINE);
        if (settings.syncHostSerialPorts) {
            devices::SyncBuiltInSerialPorts(PresentSerialPorts(settings.hostDevRoot, settings.hostSysRoot),
                                            result.problems);
        }
        devices::ActivateBuiltInDrivers(result.problems);
    }

    // Other processes of this device find this one's windows and post to them.
    if (!user::JoinDeviceWindows()) {
        result.problems.push_back("other processes of this device cannot post to this one's windows");
    }
    if (settings.syncHostSerialPorts && settings.followHostSerialPorts) {
        FollowHostSerialPorts(settings, result.problems);
    }
    return result;
}

void ShutdownDevice()
{
    SerialWatch().reset();
    user::LeaveDeviceWindows();
    devices::DeactivateAllDevices();
    registry::UnmountHives();
    devices::ClearNodeFolder();
    session::ClearDeviceRoot();
}

}  // namespace platform
