// Resource types and names as the resource directory keys them.
#include "resources/resource_key.h"

#include <limits>

#include "platform/user.h"
#include "resources/capitals.h"

namespace platform::resources {
namespace {

// "#123" names integer id 123; anything else after the '#' is a plain name.
std::optional<WORD> NumberAfterHash(std::u16string_view text)
{
    if (text.size() < 2 || text.front() != u'#') {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char16_t c : text.substr(1)) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - u'0');
        if (value > std::numeric_limits<WORD>::max()) {
            return std::nullopt;
        }
    }
    return static_cast<WORD>(value);
}

}  // namespace

std::optional<ResourceKey> KeyOf(LPCWSTR typeOrName)
{
    if (IS_INTRESOURCE(typeOrName)) {
        const auto id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(typeOrName));
        return id == 0 ? std::nullopt : std::optional(ResourceKey{id, {}});
    }
    const std::u16string_view text(typeOrName);
    if (const auto number = NumberAfterHash(text)) {
        return *number == 0 ? std::nullopt : std::optional(ResourceKey{*number, {}});
    }
    return text.empty() ? std::nullopt : std::optional(ResourceKey{0, InCapitals(std::u16string(text))});
}

}  // namespace platform::resources
