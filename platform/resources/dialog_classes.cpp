// The predefined control classes of dialog templates.
#include "resources/dialog_classes.h"

#include <algorithm>

#include "resources/capitals.h"

namespace platform::resources {
namespace {

bool SameName(std::u16string_view left, std::u16string_view right)
{
    return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                      [](char16_t a, char16_t b) { return CapitalOf(a) == CapitalOf(b); });
}

}  // namespace

std::optional<WORD> AtomOfClass(std::u16string_view className)
{
    for (const PredefinedClass& known : kPredefinedClasses) {
        if (SameName(known.name, className)) {
            return known.atom;
        }
    }
    return std::nullopt;
}

std::optional<std::u16string_view> ClassOfAtom(WORD atom)
{
    for (const PredefinedClass& known : kPredefinedClasses) {
        if (known.atom == atom) {
            return known.name;
        }
    }
    return std::nullopt;
}

}  // namespace platform::resources
