// The registry calls, with the results that Windows documents for them.
// Windows CE ignores the access mask, the class and the security attributes,
// and so do these. Every change is made to the hive as its file holds it now
// and written to the file before the call returns; when that fails the change
// is taken back and the call fails.
#include <algorithm>
#include <optional>
#include <span>

#include "platform/registry.h"
#include "registry/names.h"
#include "registry/registry_state.h"

namespace {

using platform::registry::Key;
using platform::registry::LockedRegistry;
using platform::registry::OpenKey;
using platform::registry::Value;

std::u16string_view TextOrEmpty(LPCWSTR text)
{
    return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

// An entry that RegSetValueExW takes: a valid name, and data for its size.
bool IsValidEntry(const REGVALUEW& entry)
{
    return (entry.data != nullptr || entry.dataSize == 0) &&
           platform::registry::IsValidValueName(TextOrEmpty(entry.name));
}

// The names of a path below `key`; nothing when the path is malformed or
// would reach deeper than a key may lie.
std::optional<std::vector<std::u16string>> SubkeyNames(const Key& key, LPCWSTR subKey)
{
    auto names = platform::registry::SplitKeyPath(TextOrEmpty(subKey));
    if (names && key.Depth() + names->size() > platform::registry::kMaxKeyDepth) {
        return std::nullopt;
    }
    return names;
}

// How far a path leads through keys that exist: the last key reached and how
// many of the names it matched.
struct PathWalk {
    std::shared_ptr<Key> reached;
    std::size_t matched = 0;
};

PathWalk WalkPath(std::shared_ptr<Key> from, const std::vector<std::u16string>& names)
{
    PathWalk walk{std::move(from), 0};
    for (; walk.matched < names.size(); ++walk.matched) {
        std::shared_ptr<Key> next = walk.reached->FindSubkey(names[walk.matched]);
        if (next == nullptr) {
            break;
        }
        walk.reached = std::move(next);
    }
    return walk;
}

LONG FindKey(const OpenKey& from, LPCWSTR subKey, OpenKey& found)
{
    const auto names = SubkeyNames(*from.key, subKey);
    if (!names) {
        return ERROR_INVALID_PARAMETER;
    }
    PathWalk walk = WalkPath(from.key, *names);
    if (walk.matched < names->size()) {
        return ERROR_FILE_NOT_FOUND;
    }
    found = {from.hive, std::move(walk.reached)};
    return ERROR_SUCCESS;
}

// Creates the keys of the path that the walk did not reach, and writes them.
LONG CreateMissingKeys(LockedRegistry& registry, PathWalk& walk, const std::vector<std::u16string>& names)
{
    const std::shared_ptr<Key> existing = walk.reached;
    const std::shared_ptr<Key> first = existing->AddSubkey(names[walk.matched]);
    walk.reached = first;
    for (std::size_t i = walk.matched + 1; i < names.size(); ++i) {
        walk.reached = walk.reached->AddSubkey(names[i]);
    }
    return registry.Persist([&] { existing->DetachSubkey(*first); });
}

// Copies a name out with its terminator; the length handed back leaves the
// terminator out. The caller has checked that it fits.
void CopyName(std::u16string_view name, LPWSTR buffer, LPDWORD length)
{
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = u'\0';
    *length = static_cast<DWORD>(name.size());
}

// Hands out a value's type and data. Without a buffer, the size alone; with
// one that is too small, ERROR_MORE_DATA and the size needed, and the buffer
// is left as it was.
LONG CopyValueData(const Value& value, LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    if (type != nullptr) {
        *type = value.type;
    }
    if (dataSize == nullptr) {
        return ERROR_SUCCESS;
    }
    const auto needed = static_cast<DWORD>(value.data.size());
    const bool fits = data == nullptr || *dataSize >= needed;
    if (data != nullptr && fits) {
        std::copy(value.data.begin(), value.data.end(), data);
    }
    *dataSize = needed;
    return fits ? LONG{ERROR_SUCCESS} : LONG{ERROR_MORE_DATA};
}

}  // namespace

// ---- RegCreateKeyExW: opens the key, creating it and any missing key above it.
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY result,
                     LPDWORD disposition)
{
    if (result == nullptr || subKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    LockedRegistry registry;
    OpenKey parent;
    if (const LONG error = registry.ResolveForChange(key, parent); error != ERROR_SUCCESS) {
        return error;
    }
    const auto names = SubkeyNames(*parent.key, subKey);
    if (!names) {
        return ERROR_INVALID_PARAMETER;
    }
    PathWalk walk = WalkPath(parent.key, *names);
    const bool create = walk.matched < names->size();
    if (create) {
        if (const LONG error = CreateMissingKeys(registry, walk, *names); error != ERROR_SUCCESS) {
            return error;
        }
    }
    *result = registry.AddHandle({parent.hive, walk.reached});
    if (disposition != nullptr) {
        *disposition = create ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return ERROR_SUCCESS;
}

// ---- RegOpenKeyExW: a null or empty path opens the key itself again.
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result)
{
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    LockedRegistry registry;
    OpenKey from;
    OpenKey found;
    LONG error = registry.Resolve(key, from);
    if (error == ERROR_SUCCESS) {
        error = FindKey(from, subKey, found);
    }
    if (error == ERROR_SUCCESS) {
        *result = registry.AddHandle(found);
    }
    return error;
}

// ---- RegCloseKey
LONG RegCloseKey(HKEY key)
{
    LockedRegistry registry;
    return registry.CloseHandle(key);
}

// ---- RegQueryValueExW: a null or empty name is the default value.
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    LockedRegistry registry;
    OpenKey opened;
    if (const LONG error = registry.Resolve(key, opened); error != ERROR_SUCCESS) {
        return error;
    }
    const Value* value = opened.key->FindValue(TextOrEmpty(valueName));
    return value == nullptr ? LONG{ERROR_FILE_NOT_FOUND} : CopyValueData(*value, type, data, dataSize);
}

// ---- RegSetValueExW: stores the bytes as given, whatever the type says.
LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize)
{
    const REGVALUEW value{valueName, type, data, dataSize};
    return RegSetValuesW(key, &value, 1);
}

// ---- RegSetValuesW: RegSetValueExW for several values of one key, as one
// change and one write of the file.
LONG RegSetValuesW(HKEY key, const REGVALUEW* values, DWORD count)
{
    if (values == nullptr && count != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::span<const REGVALUEW> entries(values, count);
    if (!std::all_of(entries.begin(), entries.end(), IsValidEntry)) {
        return ERROR_INVALID_PARAMETER;
    }
    LockedRegistry registry;
    OpenKey opened;
    if (const LONG error = registry.ResolveForChange(key, opened); error != ERROR_SUCCESS) {
        return error;
    }
    if (entries.empty()) {
        return ERROR_SUCCESS;
    }
    std::vector<Value> saved = opened.key->values();
    for (const REGVALUEW& entry : entries) {
        opened.key->SetValue({std::u16string(TextOrEmpty(entry.name)), entry.type,
                              std::vector<BYTE>(entry.data, entry.data + entry.dataSize)});
    }
    // Inside a batch, values set again as they are (keys that a program
    // writes anew at every start) do not make the batch write the file.
    const bool changed = opened.key->values() != saved;
    return registry.Persist([&] { opened.key->RestoreValues(std::move(saved)); }, changed);
}

// ---- RegEnumKeyExW: subkeys in the order of their creation. Keys have no
// class, and their write times are not kept (the file has no place for them).
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPWSTR keyClass,
                   LPDWORD classLength, PFILETIME lastWriteTime)
{
    if (name == nullptr || nameLength == nullptr || reserved != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    LockedRegistry registry;
    OpenKey opened;
    if (const LONG error = registry.Resolve(key, opened); error != ERROR_SUCCESS) {
        return error;
    }
    const auto& subkeys = opened.key->subkeys();
    if (index >= subkeys.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const std::u16string& subkeyName = subkeys[index]->name();
    if (*nameLength <= subkeyName.size()) {
        return ERROR_MORE_DATA;
    }
    CopyName(subkeyName, name, nameLength);
    if (classLength != nullptr) {
        if (keyClass != nullptr && *classLength > 0) {
            keyClass[0] = u'\0';
        }
        *classLength = 0;
    }
    if (lastWriteTime != nullptr) {
        *lastWriteTime = FILETIME{0, 0};
    }
    return ERROR_SUCCESS;
}

// ---- RegEnumValueW: values in the order of their creation; the name length
// counts characters, the data size bytes.
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize)
{
    if (valueName == nullptr || valueNameLength == nullptr || reserved != nullptr ||
        (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    LockedRegistry registry;
    OpenKey opened;
    if (const LONG error = registry.Resolve(key, opened); error != ERROR_SUCCESS) {
        return error;
    }
    const auto& values = opened.key->values();
    if (index >= values.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const Value& value = values[index];
    if (*valueNameLength <= value.name.size()) {
        return ERROR_MORE_DATA;
    }
    const LONG error = CopyValueData(value, type, data, dataSize);
    if (error == ERROR_SUCCESS) {
        CopyName(value.name, valueName, valueNameLength);
    }
    return error;
}

// ---- RegDeleteValueW
LONG RegDeleteValueW(HKEY key, LPCWSTR valueName)
{
    LockedRegistry registry;
    OpenKey opened;
    if (const LONG error = registry.ResolveForChange(key, opened); error != ERROR_SUCCESS) {
        return error;
    }
    std::vector<Value> saved = opened.key->values();
    if (!opened.key->RemoveValue(TextOrEmpty(valueName))) {
        return ERROR_FILE_NOT_FOUND;
    }
    return registry.Persist([&] { opened.key->RestoreValues(std::move(saved)); });
}

// ---- RegDeleteKeyW: deletes the subkey with everything below it, as Windows
// CE does. Handles still open on those keys fail with ERROR_KEY_DELETED. The
// path must name a subkey: an empty one is refused rather than taken to mean
// the key itself.
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey)
{
    LockedRegistry registry;
    OpenKey from;
    OpenKey target;
    LONG error = registry.ResolveForChange(key, from);
    if (error == ERROR_SUCCESS) {
        error = FindKey(from, subKey, target);
    }
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (target.key == from.key) {
        return ERROR_INVALID_PARAMETER;
    }
    Key& parent = *target.key->parent();
    const std::size_t position = parent.DetachSubkey(*target.key);
    error = registry.Persist([&] { parent.RestoreSubkey(target.key, position); });
    if (error == ERROR_SUCCESS) {
        target.key->MarkDeleted();
    }
    return error;
}
