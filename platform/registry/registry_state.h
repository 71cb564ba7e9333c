// The registry's state: its two hives and the open key handles, behind one
// lock. Every registry call holds a LockedRegistry for its whole length, so
// calls from several threads see and change the tree one at a time, and the
// files are written in the order of the changes.
//
// The other processes of the device change the same hive files. Every call
// first brings its hive up to date when the file is no longer the version
// that this process last read or wrote (one stat() when nothing changed), so
// reads see what another process wrote as on the device, where all share one
// registry. A change is made under the hive's lock across processes, to the
// latest tree, and written before the lock is given back.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/types.h"
#include "registry/file_version.h"
#include "registry/hive_lock.h"
#include "registry/key_tree.h"

namespace platform::registry {

struct Hive {
    explicit Hive(std::u16string name) : rootName(std::move(name)) {}

    std::u16string rootName;   // "HKEY_LOCAL_MACHINE": the first name of every key path in its file
    std::shared_ptr<Key> root = std::make_shared<Key>(std::u16string(), nullptr);
    std::filesystem::path file;   // empty: kept in memory only
    bool unusable = false;        // its file is no hive: every call fails with ERROR_BADDB
    FileVersion seen;             // the version of the file that root holds
    HiveLock lock;
    int batches = 0;          // open RegistryBatch objects: changes wait for the last one to finish
    bool unwritten = false;   // a batch has changed the tree since the file was written
    unsigned mounted = 0;     // counts the mounts, so that a batch from before a mount ends nothing after it
};

// What a key handle stands for.
struct OpenKey {
    Hive* hive = nullptr;
    std::shared_ptr<Key> key;
};

class LockedRegistry {
public:
    LockedRegistry();
    // Gives back the hive lock that ResolveForChange took.
    ~LockedRegistry();
    LockedRegistry(const LockedRegistry&) = delete;
    LockedRegistry& operator=(const LockedRegistry&) = delete;

    // A root or an open handle, as the key that it names, its hive brought up
    // to date (a file that cannot be read now leaves it as it was).
    // ERROR_INVALID_HANDLE for anything else, ERROR_BADDB when its hive is
    // unusable, ERROR_KEY_DELETED when its key has been deleted.
    LONG Resolve(HKEY key, OpenKey& opened);
    // Resolve for a call that changes the key's hive: holds the hive's lock
    // across processes until this object ends and brings the hive up to date
    // under it. ERROR_REGISTRY_IO_FAILED when the lock cannot be taken or the
    // file cannot be read.
    LONG ResolveForChange(HKEY key, OpenKey& opened);
    HKEY AddHandle(OpenKey opened);
    // ERROR_SUCCESS, also for a root (as on Windows); ERROR_INVALID_HANDLE.
    LONG CloseHandle(HKEY key);
    void CloseAllHandles();

    // Writes the hive that ResolveForChange succeeded for, after a change.
    // When that fails, `undo` takes the change back so that memory and file
    // agree, and the caller gets ERROR_REGISTRY_IO_FAILED.
    // Inside a batch, the change is only marked for the batch's write, and
    // not even that when the call changed nothing. Outside one, the file is
    // written either way: a save that a program makes reaches the file.
    LONG Persist(const std::function<void()>& undo, bool changed = true);
    // Writes what the hive's batches changed. When that fails, the hive goes
    // back to what its file holds, and ERROR_REGISTRY_IO_FAILED.
    static LONG WriteBatch(Hive& hive);

    // HKEY_LOCAL_MACHINE first, then HKEY_CURRENT_USER.
    std::array<Hive, 2>& hives();

private:
    std::lock_guard<std::mutex> guard_;
    Hive* changing_ = nullptr;
};

}  // namespace platform::registry
