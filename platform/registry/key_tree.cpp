#include "registry/key_tree.h"

#include <algorithm>

#include "registry/names.h"

namespace platform::registry {

std::size_t Key::Depth() const
{
    std::size_t depth = 0;
    for (const Key* key = parent_; key != nullptr; key = key->parent_) {
        ++depth;
    }
    return depth;
}

std::shared_ptr<Key> Key::FindSubkey(std::u16string_view name) const
{
    const auto found = std::find_if(subkeys_.begin(), subkeys_.end(),
                                    [name](const std::shared_ptr<Key>& key) { return NamesEqual(key->name_, name); });
    return found == subkeys_.end() ? nullptr : *found;
}

std::shared_ptr<Key> Key::AddSubkey(std::u16string name)
{
    return subkeys_.emplace_back(std::make_shared<Key>(std::move(name), this));
}

std::size_t Key::DetachSubkey(const Key& subkey)
{
    const auto found = std::find_if(subkeys_.begin(), subkeys_.end(),
                                    [&subkey](const std::shared_ptr<Key>& key) { return key.get() == &subkey; });
    const auto position = static_cast<std::size_t>(found - subkeys_.begin());
    subkeys_.erase(found);
    return position;
}

void Key::RestoreSubkey(std::shared_ptr<Key> subkey, std::size_t position)
{
    subkeys_.insert(subkeys_.begin() + static_cast<std::ptrdiff_t>(position), std::move(subkey));
}

void Key::MarkDeleted()
{
    // Depth is bounded by kMaxKeyDepth, so the recursion is too.
    deleted_ = true;
    parent_ = nullptr;
    for (const std::shared_ptr<Key>& subkey : subkeys_) {
        subkey->MarkDeleted();
    }
}

void Key::Adopt(Key& newer)
{
    // Depth is bounded by kMaxKeyDepth, so the recursion is too.
    values_ = std::move(newer.values_);
    std::vector<std::shared_ptr<Key>> adopted;
    for (std::shared_ptr<Key>& subkey : newer.subkeys_) {
        const auto kept = std::find_if(subkeys_.begin(), subkeys_.end(), [&](const std::shared_ptr<Key>& key) {
            return NamesEqual(key->name_, subkey->name_);
        });
        if (kept == subkeys_.end()) {
            subkey->parent_ = this;
            adopted.push_back(std::move(subkey));
            continue;
        }
        (*kept)->name_ = std::move(subkey->name_);
        (*kept)->Adopt(*subkey);
        adopted.push_back(std::move(*kept));
        subkeys_.erase(kept);
    }
    newer.subkeys_.clear();
    for (const std::shared_ptr<Key>& gone : subkeys_) {
        gone->MarkDeleted();
    }
    subkeys_ = std::move(adopted);
}

const Value* Key::FindValue(std::u16string_view name) const
{
    const auto found = std::find_if(values_.begin(), values_.end(),
                                    [name](const Value& value) { return NamesEqual(value.name, name); });
    return found == values_.end() ? nullptr : &*found;
}

void Key::SetValue(Value value)
{
    const auto found = std::find_if(values_.begin(), values_.end(),
                                    [&value](const Value& existing) { return NamesEqual(existing.name, value.name); });
    if (found == values_.end()) {
        values_.push_back(std::move(value));
        return;
    }
    found->type = value.type;
    found->data = std::move(value.data);
}

bool Key::RemoveValue(std::u16string_view name)
{
    return std::erase_if(values_, [name](const Value& value) { return NamesEqual(value.name, name); }) > 0;
}

}  // namespace platform::registry
