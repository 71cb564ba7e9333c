// Short forms of the registry calls for the tests, and whole-file helpers.
#pragma once

#include "testkit/temp_folder.h"

#include <filesystem>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace tavrel::testing {

// A value as RegQueryValueExW hands it out.
struct QueriedValue {
    LONG result = 0;
    DWORD type = 0;
    std::vector<BYTE> data;
};
QueriedValue QueryValue(HKEY key, const char16_t* name);

std::vector<BYTE> Bytes(std::initializer_list<int> bytes);
// The UTF-16 bytes of `text` with its terminator, as a REG_SZ holds them.
std::vector<BYTE> TextBytes(std::u16string_view text);
LONG SetValue(HKEY key, const char16_t* name, DWORD type, const std::vector<BYTE>& data);

// prefix followed by the number in decimal: Numbered(u"v", 12) is u"v12".
std::u16string Numbered(const char16_t* prefix, unsigned number);

// Creates (or opens) the key; fails the test when that does not work.
HKEY CreateKey(HKEY parent, const char16_t* path);

std::vector<std::u16string> SubkeyNames(HKEY key);
std::vector<std::u16string> ValueNames(HKEY key);


}  // namespace tavrel::testing
