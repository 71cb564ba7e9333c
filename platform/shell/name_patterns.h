// How the device's file system compares names: without regard to case, and
// with the wildcards * and ? in the last element of a search.
#pragma once

#include <string_view>

namespace platform::shell {

bool HasWildcard(std::u16string_view pattern);

// '*' matches any run of characters (none too), '?' exactly one; everything
// else matches itself in either case. "*.*" matches every name, dot or not, as
// the device's searches do.
bool NameMatchesPattern(std::u16string_view name, std::u16string_view pattern);

}  // namespace platform::shell
