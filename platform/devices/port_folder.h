// The folder in which drivers publish their endpoints when the device's
// settings name none. A machine may have a system folder for the ports of all
// its users (/run/tavrel, made by `tavrel-install --system`), which services
// of other users can reach where a home folder is closed to them; then each
// person's ports go to a folder of their own inside it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/boot.h"

namespace platform::devices {

// The person's own folder in the system port folder (made if missing) when
// that folder is sound: a real folder, root's, sticky; and the person's
// folder in it a real folder of theirs. Otherwise ports/ under the device
// root, with one line in `problems` unless there is no system folder at all.
// A sticky folder keeps others from moving or removing the person's folder,
// so once checked it stays theirs. Nothing that belongs to someone else is
// followed, replaced or written into.
std::filesystem::path DefaultPortFolder(const DeviceSettings& settings, std::vector<std::string>& problems);

}  // namespace platform::devices
