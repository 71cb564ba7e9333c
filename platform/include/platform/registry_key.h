// A registry key held open for as long as the object lives, with its values
// read and written whole: for C++ callers that prefer that to pairing every
// RegOpenKeyExW with a RegCloseKey. A key that could not be opened fails
// every call on it.
#pragma once

#include <optional>
#include <string>

#include "platform/registry.h"
#include "platform/registry_number.h"

namespace platform {

class RegistryKey {
public:
    enum class Open { Existing, OrCreate };

    RegistryKey(HKEY root, const std::u16string& path, Open open)
    {
        const LONG result = open == Open::OrCreate
                                ? RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, 0, nullptr, &key_, nullptr)
                                : RegOpenKeyExW(root, path.c_str(), 0, 0, &key_);
        if (result != static_cast<LONG>(ERROR_SUCCESS)) {
            key_ = nullptr;
        }
    }
    ~RegistryKey()
    {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    explicit operator bool() const { return key_ != nullptr; }
    HKEY get() const { return key_; }

    bool Has(const WCHAR* name) const
    {
        return key_ != nullptr && RegQueryValueExW(key_, name, nullptr, nullptr, nullptr, nullptr) == 0;
    }
    // A REG_SZ value of any length, up to its first terminator.
    std::optional<std::u16string> Text(const WCHAR* name) const
    {
        DWORD size = 0;
        DWORD type = 0;
        if (key_ == nullptr || RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size) != 0 || type != REG_SZ) {
            return std::nullopt;
        }
        std::u16string text(size / sizeof(WCHAR) + 1, u'\0');
        size = static_cast<DWORD>(text.size() * sizeof(WCHAR));
        if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != 0 ||
            type != REG_SZ) {
            return std::nullopt;
        }
        text.resize(std::char_traits<char16_t>::length(text.c_str()));
        return text;
    }
    // A number as the registry's numbers are read everywhere (registry_number.h).
    std::optional<DWORD> Number(const WCHAR* name) const
    {
        return key_ == nullptr ? std::nullopt : QueryRegistryNumber(key_, name);
    }
    bool SetText(const WCHAR* name, const std::u16string& text) const
    {
        return key_ != nullptr && RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                                 static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))) == 0;
    }
    bool SetNumber(const WCHAR* name, DWORD value) const
    {
        return key_ != nullptr &&
               RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) == 0;
    }

    // Removes a value; a value that is not there is removed already.
    bool Remove(const WCHAR* name) const
    {
        if (key_ == nullptr) {
            return false;
        }
        const LONG result = RegDeleteValueW(key_, name);
        return result == 0 || result == static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace platform
