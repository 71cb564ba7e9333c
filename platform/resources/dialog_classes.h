// The predefined control classes that a dialog template names by atom.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "platform/types.h"

namespace platform::resources {

struct PredefinedClass {
    WORD atom;
    std::u16string_view name;
};

inline constexpr std::array<PredefinedClass, 6> kPredefinedClasses{{
    {0x0080, u"BUTTON"},
    {0x0081, u"EDIT"},
    {0x0082, u"STATIC"},
    {0x0083, u"LISTBOX"},
    {0x0084, u"SCROLLBAR"},
    {0x0085, u"COMBOBOX"},
}};

// The atom of a predefined class, its name compared without regard to case.
std::optional<WORD> AtomOfClass(std::u16string_view className);
// The name, in capitals, of a predefined class atom.
std::optional<std::u16string_view> ClassOfAtom(WORD atom);

// Markers of the variable-length fields: no menu or default class, and an
// ordinal in place of a text.
inline constexpr WORD kNoEntry = 0x0000;
inline constexpr WORD kOrdinalFollows = 0xFFFF;

}  // namespace platform::resources
