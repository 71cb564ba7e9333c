// What the settings' writers share: the entries of a change of several
// values (RegSetValuesW), which point at the values they write: each value
// must outlive its entry.
#pragma once

#include <string>

#include "platform/registry.h"
#include "state/setting_table.h"

inline REGVALUEW DwordValue(const WCHAR* name, const DWORD& value)
{
    return {name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(DWORD)};
}

inline REGVALUEW TextValue(const WCHAR* name, const std::u16string& text)
{
    return {name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
            static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))};
}
