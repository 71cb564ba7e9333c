// Not a Win32 facility but this platform's own: a batch of registry changes
// that reaches a hive's file in one write. Every change of HKEY_LOCAL_MACHINE
// or HKEY_CURRENT_USER is otherwise written to the hive's file (and synced)
// before its call returns; keys that a program writes anew at every start,
// dozens of values at once, would make it wait for dozens of writes.
//
// While a batch lives, the changes that this process makes to its hive are
// seen at once by this process, and none of the device's other processes
// changes the hive (they wait, as they wait for any change); the file is
// written once, when the batch finishes, and not at all when nothing changed.
// A crash before that loses the batch's changes, so a batch is only for keys
// that are written again at the next start, never for what a person saved.
#pragma once

#include "platform/registry.h"

namespace platform {

class RegistryBatch {
public:
    // HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER. When the hive's lock cannot be
    // taken, there is no batch: each change is written by its own call.
    explicit RegistryBatch(HKEY root);
    // Finishes the batch if Finish() has not.
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;

    // Writes the batch's changes to the hive's file and lets the other
    // processes in. ERROR_REGISTRY_IO_FAILED when the file cannot be written:
    // the hive then holds what its file holds, without the batch's changes.
    // Later calls return the same result.
    LONG Finish();

private:
    HKEY root_;
    bool open_ = false;
    unsigned mounted_ = 0;
    LONG result_ = ERROR_SUCCESS;
};

}  // namespace platform
