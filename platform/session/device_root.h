// Where the device lives on the host, for the parts of the platform that map
// device paths and publish driver endpoints.
#pragma once

#include <filesystem>

namespace platform::session {

void SetDeviceFolders(const std::filesystem::path& deviceRoot, const std::filesystem::path& nodeFolder);
void ClearDeviceFolders();
std::filesystem::path NodeFolder();
// Empty while no device is up.
std::filesystem::path DeviceRoot();

}  // namespace platform::session
