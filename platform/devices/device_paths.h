// Where drivers publish their endpoints on the host (the links that other
// programs open), for the device manager and the drivers it starts.
#pragma once

#include <filesystem>
#include <string>

namespace platform::devices {

void SetNodeFolder(const std::filesystem::path& nodeFolder);
// The host group that drivers give their endpoints to; empty: none.
void SetPortGroup(const std::string& group);
// Forgets both the folder and the group: no device is up.
void ClearNodeFolder();
// Empty while no device is up.
std::filesystem::path NodeFolder();
std::string PortGroup();

}  // namespace platform::devices
