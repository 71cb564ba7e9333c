// The program module's resource table.
#include "resources/resource_table.h"

#include <algorithm>
#include <cstring>

#include "kernel/never_destroyed.h"

namespace platform::resources {

void ResourceTable::Add(const ResourceKey& type, const ResourceKey& name, std::span<const BYTE> bytes)
{
    std::lock_guard guard(lock_);
    AddLocked(type, name, bytes);
}

void ResourceTable::AddLocked(const ResourceKey& type, const ResourceKey& name, std::span<const BYTE> bytes)
{
    // Two zero bytes after the data: even an empty resource has an address,
    // and a text resource read past its end meets a terminator.
    Entry entry;
    // Sized first and then filled: GCC 12 wrongly warns (-Wstringop-overflow)
    // about assigning a span's iterators when optimising.
    entry.storage.resize(bytes.size() + 2, BYTE{0});
    if (!bytes.empty()) {
        std::memcpy(entry.storage.data(), bytes.data(), bytes.size());
    }
    entry.size = bytes.size();
    entries_.push_back(std::move(entry));
    current_[Key{type, name}] = entries_.size() - 1;
}

std::optional<WORD> ResourceTable::AddNumbered(const ResourceKey& type,
                                               const std::vector<std::span<const BYTE>>& items)
{
    std::lock_guard guard(lock_);
    unsigned highest = 0;
    for (const auto& [key, index] : current_) {
        if (key.first == type) {
            highest = std::max<unsigned>(highest, key.second.id);
        }
    }
    if (highest + items.size() > 0xFFFF) {
        return std::nullopt;
    }
    const auto first = static_cast<WORD>(highest + 1);
    for (std::size_t i = 0; i < items.size(); ++i) {
        AddLocked(type, ResourceKey{static_cast<WORD>(first + i), {}}, items[i]);
    }
    return first;
}

std::optional<std::size_t> ResourceTable::Find(const ResourceKey& type, const ResourceKey& name) const
{
    std::lock_guard guard(lock_);
    const auto found = current_.find(Key{type, name});
    return found == current_.end() ? std::nullopt : std::optional(found->second);
}

bool ResourceTable::HasType(const ResourceKey& type) const
{
    std::lock_guard guard(lock_);
    return std::any_of(current_.begin(), current_.end(), [&](const auto& entry) { return entry.first.first == type; });
}

std::optional<std::span<const BYTE>> ResourceTable::BytesAt(std::size_t index) const
{
    std::lock_guard guard(lock_);
    if (index >= entries_.size()) {
        return std::nullopt;
    }
    const Entry& entry = entries_[index];
    return std::span<const BYTE>(entry.storage.data(), entry.size);
}

ResourceTable& ProgramResources()
{
    static NeverDestroyed<ResourceTable> table;
    return table.get();
}

}  // namespace platform::resources
