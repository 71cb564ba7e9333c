// The keys of one hive in memory. A key owns its subkeys and its values, both
// kept in the order of their creation; names keep their case and compare
// without it. Open handles share ownership of their key, so a deleted key
// lives on, marked deleted, until its last handle is closed.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace platform::registry {

struct Value {
    std::u16string name;   // empty: the key's default value
    DWORD type = 0;
    std::vector<BYTE> data;

    bool operator==(const Value&) const = default;
};

class Key {
public:
    Key(std::u16string name, Key* parent) : name_(std::move(name)), parent_(parent) {}
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    const std::u16string& name() const { return name_; }
    // Null for a hive's root and for a deleted key.
    Key* parent() const { return parent_; }
    bool deleted() const { return deleted_; }
    // How many keys lie between this key and its root (0 for the root).
    std::size_t Depth() const;

    const std::vector<std::shared_ptr<Key>>& subkeys() const { return subkeys_; }
    std::shared_ptr<Key> FindSubkey(std::u16string_view name) const;
    // Appends a new subkey; the caller has checked that none has this name.
    std::shared_ptr<Key> AddSubkey(std::u16string name);
    // Takes a subkey out of the tree and returns where it was, so that
    // RestoreSubkey can put it back in the same place.
    std::size_t DetachSubkey(const Key& subkey);
    void RestoreSubkey(std::shared_ptr<Key> subkey, std::size_t position);
    // Marks this key and every key below it deleted and cuts their links to
    // their parents, so that a handle that outlives the tree reaches nothing.
    void MarkDeleted();
    // Makes this key hold what `newer` holds (the same key as a newer file
    // has it), taking its values and subkeys. A subkey that both have stays
    // the same object, so the handles open on it follow it; one that `newer`
    // lacks is marked deleted. `newer` is left empty.
    void Adopt(Key& newer);

    const std::vector<Value>& values() const { return values_; }
    const Value* FindValue(std::u16string_view name) const;
    // Replaces the type and data of the value of that name (which keeps its
    // place and the case of its name) or appends a new value.
    void SetValue(Value value);
    bool RemoveValue(std::u16string_view name);
    // Puts back values saved from values() before a change.
    void RestoreValues(std::vector<Value> values) { values_ = std::move(values); }

private:
    std::u16string name_;
    Key* parent_;
    bool deleted_ = false;
    std::vector<std::shared_ptr<Key>> subkeys_;
    std::vector<Value> values_;
};

}  // namespace platform::registry
