// The values of the settings table: typed by a person, kept in the registry,
// shown back. Each kind is parsed, checked and shown here and nowhere else,
// so that tavrel-config, the Status dialog's form, the stores and the relay
// agree on what a value may be.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/registry_key.h"
#include "state/setting_table.h"

// A value as the registry keeps it: a number, a text, or none at all (the
// setting's default counts).
using SettingValue = std::variant<std::monostate, DWORD, std::u16string>;

// The stored form of what a person typed for `entry`; nothing, with `reason`
// saying why, when it is not a value of it. Only the value itself is
// checked: whether an input is also an output is the caller's to ask.
std::optional<SettingValue> ParseSetting(const SettingEntry& entry, std::string_view typed, std::string& reason);

// Whether a stored value of `entry` can be used; false with `reason`. A value
// of another type than the kind's (a text for a number) is not one either.
bool CheckSetting(const SettingEntry& entry, const SettingValue& value, std::string& reason);

// How tavrel-config shows a value: "on", "COM3", "4800", "COM2 COM3",
// "anyone"; the default when there is none.
std::string SettingText(const SettingEntry& entry, const SettingValue& value);

// The value of `entry` under `key` as stored (monostate when missing or of
// the wrong type), and its number or text with the default for a missing one.
SettingValue ReadSetting(const platform::RegistryKey& key, const SettingEntry& entry);
DWORD SettingNumber(const SettingValue& value, const SettingEntry& entry);
std::u16string SettingTextValue(const SettingValue& value, const SettingEntry& entry);

// Stores `value` (monostate removes it). False when the key cannot be written.
bool WriteSetting(const platform::RegistryKey& key, const SettingEntry& entry, const SettingValue& value);

// The entry that tavrel-config calls `word`; null for none.
const SettingEntry* SettingOfWord(std::string_view word);
// The entry stored as `registryName`; null for none.
const SettingEntry* SettingOfRegistryName(std::u16string_view registryName);

// "COM3", "com3:" or "3": a COM number 0 to 99; nothing for anything else.
std::optional<DWORD> ComNumber(std::string_view typed);
// Whether output `number` is among the outputs of a "Split" mask.
bool IsOutputIn(DWORD outputs, DWORD number);
