// Where the device lives on the host, for the parts of the platform that map
// device paths and publish driver endpoints.
#pragma once

#include <filesystem>

namespace platform::devices {

void SetDeviceFolders(const std::filesystem::path& deviceRoot, const std::filesystem::path& nodeFolder);
void ClearDeviceFolders();
std::filesystem::path NodeFolder();

}  // namespace platform::devices
