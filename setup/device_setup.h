// Preparing a booted device as an installer and a person would: the virtual
// port driver module in the device's file system, the driver keys of the
// virtual ports, and host ttys mapped as built-in COM ports.
#pragma once

#include <filesystem>
#include <string>

#include "platform/boot.h"
#include "state/setting_table.h"

namespace tavrel::setup {

// What an install puts into the device, in its file system and its registry.
inline constexpr const char16_t* kInstallFolder = u"\\Program Files\\Tavrel";
inline constexpr const char16_t* kVirtualPortModule = u"\\Program Files\\Tavrel\\quorvel.dll";
inline constexpr const char16_t* kProgram = u"\\Program Files\\Tavrel\\Tavrel.exe";
inline constexpr const char16_t* kProgramsShortcut = u"\\Windows\\Start Menu\\Programs\\Tavrel.lnk";
// Under HKEY_LOCAL_MACHINE: "InstallPath" names kInstallFolder.
inline constexpr const char16_t* kProductKey = kSettingsKey;
inline constexpr const char16_t* kInstallPathValue = RegistryName(SettingId::InstallPath);

// Copies the module file to kVirtualPortModule and records what it put there
// (see module_record.h); false when it cannot.
bool InstallVirtualPortDriver(const std::filesystem::path& module);
// Writes HKLM\Drivers\quorvel<n>: "Dll", "Prefix" "COM", "FriendlyName", "Index" n.
bool WriteVirtualPortKey(int number);
// Writes HKLM\Drivers\BuiltIn\<keyName> with "Prefix" "COM", "Index" and
// "HostDevice"; the port is activated at the next boot.
bool MapBuiltInPort(const std::u16string& keyName, int number, const std::string& hostDevice);

// The device settings from the environment (platform::DeviceSettingsFromEnvironment)
// with absolute paths, so that a process started elsewhere (at login) finds
// the same device. A path that cannot be made absolute stays as it is.
platform::DeviceSettings AbsoluteDeviceSettings();

}  // namespace tavrel::setup
