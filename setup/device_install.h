// Installing Tavrel into a device and registering it with the login session,
// as tavrel-install does and as the program does when it starts on a device
// that has none of it (or an older install's): the driver module at
// "\Program Files\Tavrel\quorvel.dll" (and the record of it), "InstallPath"
// under HKEY_LOCAL_MACHINE\Software\Brenmor\Tavrel, the Programs shortcut
// "Tavrel.lnk" and the autostart entry that runs the start-up launcher (see
// autostart_entry.h). The person's settings under HKEY_CURRENT_USER, the
// StartUp shortcut that follows the Autostart option and the port keys are
// never touched.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/boot.h"
#include "setup/installed_files.h"

namespace tavrel::setup {

// Into the booted device, each whatever was there: the module, "InstallPath"
// and the Programs shortcut. What went wrong is added to `problems`.
bool InstallIntoDevice(const std::filesystem::path& module, std::vector<std::string>& problems);

// What SetUpDevice found and did.
struct DeviceSetUp {
    bool created = false;                // nothing of an install was there: it was made
    std::vector<std::string> refreshed;  // the parts of an existing device made or brought up to date
    std::vector<std::string> problems;   // one line each, for stderr
};

// Boots the device of `settings` (absolute paths: the autostart entry names
// them), makes each part of an install that is missing and brings each one
// that an older or another build left up to date: a module with other bytes
// than `shipped.module` (unless a person changed it since it was installed:
// that one stays, with a problem said), an "InstallPath" or a Programs
// shortcut that differs, and an autostart entry for this device whose
// launcher is not `shipped.launcher` (keeping its port folder). An autostart
// entry made for another device, or by somebody else, stays. Shuts the device
// down again.
DeviceSetUp SetUpDevice(platform::DeviceSettings settings, const ShippedFiles& shipped);

// The line that says what SetUpDevice did ("Tavrel set up its device at …");
// empty when it found everything in place.
std::string SetUpLine(const DeviceSetUp& setUp, const std::filesystem::path& deviceRoot);

}  // namespace tavrel::setup
