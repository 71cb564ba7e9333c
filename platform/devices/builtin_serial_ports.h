// Keeps HKEY_LOCAL_MACHINE\Drivers\BuiltIn in step with the host's serial
// devices, so that each appears as a built-in COM port with a stable number.
#pragma once

#include <string>
#include <vector>

namespace platform::devices {

struct HostPort {
    std::string path;           // the stable host path, which the key's "HostDevice" names
    std::string kernelName;     // ttyUSB0 ...
    std::string friendlyName;
};

// Keys that the platform made carry "Detected"=1. Such a key whose host device
// is gone is parked under Drivers\Detached (so its number stays reserved for
// it) and comes back when the device does. A present device with no key gets
// one with the lowest free "Index" (1 to 9, then 0). Keys that a person added
// or edited are kept as they are; a key is never changed beyond filling in
// values it lacks. Problems are appended as lines for stderr.
void SyncBuiltInSerialPorts(const std::vector<HostPort>& present, std::vector<std::string>& problems);

// Activates every key below Drivers\BuiltIn that names a driver module.
void ActivateBuiltInDrivers(std::vector<std::string>& problems);

// The same sync while the device runs, after a host device came or went: no
// present device gets a number whose device is active (a virtual port, say),
// and the keys that are new below Drivers\BuiltIn are activated. A device
// whose host device went is not deactivated: its key is parked, but it stays
// active, so a program that reopens it finds the host device again when it
// comes back (its key then returns with the same number).
void ResyncBuiltInSerialPorts(const std::vector<HostPort>& present, std::vector<std::string>& problems);

}  // namespace platform::devices
