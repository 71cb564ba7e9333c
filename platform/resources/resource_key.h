// How the module's resource directory names a resource's type and name.
#pragma once

#include <compare>
#include <optional>
#include <string>

#include "platform/types.h"

namespace platform::resources {

// An integer id, or a text compared without regard to case (held in
// capitals, as a resource compiler stores names).
struct ResourceKey {
    WORD id = 0;            // non-zero for an integer id
    std::u16string name;    // for a named resource, in capitals

    friend auto operator<=>(const ResourceKey&, const ResourceKey&) = default;
};

// The key for MAKEINTRESOURCEW(id), for "#123" (which names integer id 123)
// or for a name. Nothing for null, id 0 or an empty text.
std::optional<ResourceKey> KeyOf(LPCWSTR typeOrName);

}  // namespace platform::resources
