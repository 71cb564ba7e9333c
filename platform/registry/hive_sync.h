// Keeping a hive in memory in step with its file, which the other processes
// of the device replace whenever they change the hive.
#pragma once

#include <string>

#include "registry/registry_state.h"

namespace platform::registry {

struct Refreshed {
    bool readable = true;   // false: the file could not be read now, and the hive is as it was
    std::string problem;    // why the file could not be read or is no hive: "PATH: reason", "PATH:LINE: reason"
};

// Reads the file again when it is not the version that the hive last read or
// wrote, and makes the tree hold what the file holds: keys that stay keep
// their handles, keys that are gone are deleted, a missing file is an empty
// hive. A file that is no hive (not a regular file, or text that cannot be
// parsed) makes the hive unusable until the file changes again; nothing is
// ever written over it, since every change fails first.
Refreshed RefreshHive(Hive& hive);

}  // namespace platform::registry
