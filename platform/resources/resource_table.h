// The resources of the program's module: what FindResourceW searches.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "resources/resource_key.h"

namespace platform::resources {

// Entries are never removed. Replacing a resource hides the old entry but
// keeps its bytes, so a pointer that LockResource handed out stays valid for
// the life of the process, as a loaded module's resources do.
class ResourceTable {
public:
    ResourceTable() = default;
    ResourceTable(const ResourceTable&) = delete;
    ResourceTable& operator=(const ResourceTable&) = delete;

    void Add(const ResourceKey& type, const ResourceKey& name, std::span<const BYTE> bytes);
    // Adds each item under the next unused integer ids of `type`, one after
    // another, as a resource compiler numbers icon images. Returns the first
    // id, or nothing (adding nothing) when the ids would run past 65535.
    std::optional<WORD> AddNumbered(const ResourceKey& type, const std::vector<std::span<const BYTE>>& items);
    std::optional<std::size_t> Find(const ResourceKey& type, const ResourceKey& name) const;
    bool HasType(const ResourceKey& type) const;
    // The bytes of an entry that Find returned; nothing for any other index.
    std::optional<std::span<const BYTE>> BytesAt(std::size_t index) const;

private:
    struct Entry {
        std::vector<BYTE> storage;   // the bytes, then two zero bytes
        std::size_t size = 0;
    };
    using Key = std::pair<ResourceKey, ResourceKey>;

    void AddLocked(const ResourceKey& type, const ResourceKey& name, std::span<const BYTE> bytes);

    mutable std::mutex lock_;
    std::deque<Entry> entries_;
    std::map<Key, std::size_t> current_;
};

// The one table of the program's module.
ResourceTable& ProgramResources();

}  // namespace platform::resources
