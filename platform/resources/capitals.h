// Resource names and class names compare without regard to case; a
// resource compiler stores them in capitals.
#pragma once

#include <algorithm>
#include <string>

namespace platform::resources {

constexpr char16_t CapitalOf(char16_t c)
{
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

inline std::u16string InCapitals(std::u16string text)
{
    std::transform(text.begin(), text.end(), text.begin(), CapitalOf);
    return text;
}

}  // namespace platform::resources
