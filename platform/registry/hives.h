// Where the two hives live. Until MountHives, and again after UnmountHives,
// both are empty and kept in memory only.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace platform::registry {

struct MountResult {
    bool ok;
    std::vector<std::string> errors;   // "PATH:LINE: reason", or "PATH: reason" when it could not be read
};

// Closes every open key handle, loads HKEY_LOCAL_MACHINE from
// folder/"system.reg" and HKEY_CURRENT_USER from folder/"user.reg" (a missing
// file is an empty hive; the folder is created if missing) and from then on
// writes every change to those files. A file that cannot be read or parsed is
// left as it is and its hive fails every call with ERROR_BADDB; the other hive
// works normally.
MountResult MountHives(const std::filesystem::path& folder);

// Closes every open key handle and returns to empty, in-memory hives.
void UnmountHives();

}  // namespace platform::registry
