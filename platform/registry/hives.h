// Where the two hives live. Until MountHives, and again after UnmountHives,
// both are empty and kept in memory only.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform::registry {

struct MountResult {
    bool ok;
    std::vector<std::string> errors;   // "PATH:LINE: reason", or "PATH: reason" when it could not be read
                                       // or is no regular file
};

// Closes every open key handle, loads HKEY_LOCAL_MACHINE from
// folder/"system.reg" and HKEY_CURRENT_USER from folder/"user.reg" (a missing
// file is an empty hive; the folder is created if missing) and from then on
// writes every change to those files. A file that cannot be read or parsed,
// or that is no regular file (a FIFO, a device, a folder: never opened for
// reading, so mounting never blocks), is left as it is and its hive fails
// every call with ERROR_BADDB; the other hive works normally. Temporary files
// that interrupted writes left are removed.
MountResult MountHives(const std::filesystem::path& folder);

// Closes every open key handle and returns to empty, in-memory hives.
void UnmountHives();

// Holds HKEY_LOCAL_MACHINE's or HKEY_CURRENT_USER's lock across the processes
// of the device while it lives, so that the registry calls made meanwhile (by
// any thread of this process) are one change for the other processes: none of
// them changes the hive in between. Boot keeps the built-in drivers' keys in
// step this way. A lock that cannot be taken (the folder cannot be written)
// is not held, and each call then fails or succeeds on its own.
class HeldHive {
public:
    explicit HeldHive(HKEY root);
    ~HeldHive();
    HeldHive(const HeldHive&) = delete;
    HeldHive& operator=(const HeldHive&) = delete;

private:
    HKEY root_;
    bool held_ = false;
};

}  // namespace platform::registry
