// The registry's state: its two hives and the open key handles, behind one
// lock. Every registry call holds a LockedRegistry for its whole length, so
// calls from several threads see and change the tree one at a time, and the
// files are written in the order of the changes.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/types.h"
#include "registry/key_tree.h"

namespace platform::registry {

struct Hive {
    explicit Hive(std::u16string name) : rootName(std::move(name)) {}

    std::u16string rootName;   // "HKEY_LOCAL_MACHINE": the first name of every key path in its file
    std::shared_ptr<Key> root = std::make_shared<Key>(std::u16string(), nullptr);
    std::filesystem::path file;   // empty: kept in memory only
    bool unusable = false;        // its file could not be read: every call fails with ERROR_BADDB
};

// What a key handle stands for.
struct OpenKey {
    Hive* hive = nullptr;
    std::shared_ptr<Key> key;
};

class LockedRegistry {
public:
    LockedRegistry();
    LockedRegistry(const LockedRegistry&) = delete;
    LockedRegistry& operator=(const LockedRegistry&) = delete;

    // A root or an open handle, as the key that it names. ERROR_INVALID_HANDLE
    // for anything else, ERROR_BADDB when its hive is unusable,
    // ERROR_KEY_DELETED when its key has been deleted.
    LONG Resolve(HKEY key, OpenKey& opened) const;
    HKEY AddHandle(OpenKey opened);
    // ERROR_SUCCESS, also for a root (as on Windows); ERROR_INVALID_HANDLE.
    LONG CloseHandle(HKEY key);
    void CloseAllHandles();

    // Writes the hive after a change. When that fails, `undo` takes the change
    // back so that memory and file agree, and the caller gets
    // ERROR_REGISTRY_IO_FAILED.
    LONG Persist(Hive& hive, const std::function<void()>& undo) const;

    // HKEY_LOCAL_MACHINE first, then HKEY_CURRENT_USER.
    std::array<Hive, 2>& hives();

private:
    std::lock_guard<std::mutex> guard_;
};

}  // namespace platform::registry
