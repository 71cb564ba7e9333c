#include "registry_test_util.h"

#include <fstream>
#include <system_error>

#include <gtest/gtest.h>

namespace tavrel::testing {

QueriedValue QueryValue(HKEY key, const char16_t* name)
{
    QueriedValue value;
    DWORD size = 0;
    value.result = RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
    if (value.result == ERROR_SUCCESS) {
        value.data.resize(size);
        value.result = RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size);
        value.data.resize(size);
    }
    return value;
}

std::vector<BYTE> Bytes(std::initializer_list<int> bytes)
{
    std::vector<BYTE> out;
    for (const int byte : bytes) {
        out.push_back(static_cast<BYTE>(byte));
    }
    return out;
}

std::vector<BYTE> TextBytes(std::u16string_view text)
{
    std::vector<BYTE> out;
    for (const char16_t c : std::u16string(text) + u'\0') {
        out.push_back(static_cast<BYTE>(c & 0xFF));
        out.push_back(static_cast<BYTE>(c >> 8));
    }
    return out;
}

LONG SetValue(HKEY key, const char16_t* name, DWORD type, const std::vector<BYTE>& data)
{
    return RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
}

std::u16string Numbered(const char16_t* prefix, unsigned number)
{
    std::u16string name = prefix;
    for (const char digit : std::to_string(number)) {
        name.push_back(static_cast<char16_t>(digit));
    }
    return name;
}

HKEY CreateKey(HKEY parent, const char16_t* path)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    return key;
}

std::vector<std::u16string> SubkeyNames(HKEY key)
{
    std::vector<std::u16string> names;
    WCHAR name[MAX_KEY_NAME_LENGTH + 1];
    for (DWORD i = 0;; ++i) {
        DWORD length = MAX_KEY_NAME_LENGTH + 1;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return names;
        }
        names.emplace_back(name, length);
    }
}

std::vector<std::u16string> ValueNames(HKEY key)
{
    std::vector<std::u16string> names;
    std::u16string name(MAX_VALUE_NAME_LENGTH + 1, u'\0');
    for (DWORD i = 0;; ++i) {
        DWORD length = MAX_VALUE_NAME_LENGTH + 1;
        if (RegEnumValueW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return names;
        }
        names.emplace_back(name.data(), length);
    }
}


}  // namespace tavrel::testing
