// A hive's lock across the processes of the device: flock() on a file beside
// the hive, named after it with ".lock" ("system.reg.lock"). Whoever changes
// the hive holds it from reading the latest file to renaming the new one into
// place, so no process's save can undo another's change.
//
// The lock counts its takers, so that a hold across several registry calls
// (HeldHive) and each call inside it share one lock. Each first taking opens
// the lock file anew: a process made by fork() never shares its parent's lock.
// The registry's process lock serialises every call on it.
#pragma once

#include <filesystem>

#include "platform/host/unique_fd.h"

namespace platform::registry {

class HiveLock {
public:
    // Names the hive's file; an empty path (a hive in memory only) needs no
    // lock. Any lock still held is dropped.
    void SetFile(const std::filesystem::path& hiveFile);
    // Waits until no other process holds the lock. False when the lock file
    // cannot be opened or locked; the lock is not held then.
    bool Take();
    // Ends one Take(); the last one lets other processes in.
    void Give();

private:
    std::filesystem::path lockFile_;
    host::UniqueFd held_;
    int takers_ = 0;
};

}  // namespace platform::registry
