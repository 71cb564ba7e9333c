// The device's root on the host, set while a device is up: the processes
// booted with the same root share one device. Its registry/, its file system
// fs/ (HostPathOf) and the run/ folder of its processes lie under it.
#pragma once

#include <filesystem>

namespace platform::session {

void SetDeviceRoot(const std::filesystem::path& deviceRoot);
void ClearDeviceRoot();
// Empty while no device is up.
std::filesystem::path DeviceRoot();

}  // namespace platform::session
