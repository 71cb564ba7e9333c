// Device paths on the host. The device's file system ignores letter case and
// the host's does not, so every element of a device path is looked up in its
// host folder without regard to case; a name spelt exactly as asked wins.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace platform::shell {

// A device path taken apart: the host folder that holds its last element, that
// element as asked, and the host entry of that name when there is one.
struct DevicePlace {
    // ERROR_PATH_NOT_FOUND when no device is up, when the path would leave the
    // device's file system (a ".." element) or when a folder on the way is missing.
    DWORD error = ERROR_SUCCESS;
    std::filesystem::path folder;
    std::u16string name;
    // Empty when nothing has that name. An empty name, or ".", is the folder itself.
    std::filesystem::path entry;
};

// Finds the folder only; the last element may be a search pattern.
DevicePlace LocateFolderOf(std::u16string_view devicePath);
// Finds the folder and the entry that the last element names.
DevicePlace LocateOnDevice(std::u16string_view devicePath);

enum class MissingFolders { Fail, Create };

// Walks every element of a folder's device path; with MissingFolders::Create
// the missing ones are made with the spelling asked for. ERROR_ALREADY_EXISTS
// when a file stands where a folder should.
DWORD WalkDeviceFolders(std::u16string_view devicePath, MissingFolders missing);

// A host name as the device sees it; nothing when it is not valid UTF-8 (no
// device name could reach it) or too long for a MAX_PATH name buffer.
std::optional<std::u16string> DeviceNameOf(const std::filesystem::path& hostName);

}  // namespace platform::shell
