// A key under HKEY_LOCAL_MACHINE of the booted device, opened (or created)
// for as long as the object lives; its values read and written whole. Every
// call says whether it worked; a key that could not be opened fails them all.
#pragma once

#include <optional>
#include <string>

#include "platform/registry.h"

namespace tavrel::tools {

class MachineKey {
public:
    enum class Open { Existing, OrCreate };

    MachineKey(const std::u16string& path, Open open)
    {
        const LONG result = open == Open::OrCreate
                                ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key_,
                                                  nullptr)
                                : RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, &key_);
        if (result != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~MachineKey()
    {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    MachineKey(const MachineKey&) = delete;
    MachineKey& operator=(const MachineKey&) = delete;

    explicit operator bool() const { return key_ != nullptr; }
    HKEY get() const { return key_; }

    bool SetText(const WCHAR* name, const std::u16string& text) const
    {
        return key_ != nullptr &&
               RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
    }
    bool SetNumber(const WCHAR* name, DWORD value) const
    {
        return key_ != nullptr && RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                                 sizeof(value)) == ERROR_SUCCESS;
    }
    std::optional<std::u16string> Text(const WCHAR* name) const
    {
        WCHAR text[MAX_PATH] = {};
        DWORD size = sizeof(text) - sizeof(WCHAR);
        DWORD type = 0;
        if (key_ == nullptr ||
            RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
            type != REG_SZ) {
            return std::nullopt;
        }
        return std::u16string(text);
    }
    std::optional<DWORD> Number(const WCHAR* name) const
    {
        DWORD value = 0;
        DWORD size = sizeof(value);
        DWORD type = 0;
        if (key_ == nullptr ||
            RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
            type != REG_DWORD) {
            return std::nullopt;
        }
        return value;
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace tavrel::tools
