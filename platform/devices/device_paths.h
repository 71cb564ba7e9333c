// Where drivers publish their endpoints on the host (the links that other
// programs open), for the device manager and the drivers it starts.
#pragma once

#include <filesystem>

namespace platform::devices {

void SetNodeFolder(const std::filesystem::path& nodeFolder);
void ClearNodeFolder();
// Empty while no device is up.
std::filesystem::path NodeFolder();

}  // namespace platform::devices
