#include "shell/name_patterns.h"

#include "registry/names.h"

namespace platform::shell {
namespace {

// File names fold case as registry names do: both follow the device's
// upper-case table.
bool SameCharacter(char16_t nameCharacter, char16_t patternCharacter)
{
    return patternCharacter == u'?' ||
           registry::NamesEqual(std::u16string_view(&nameCharacter, 1), std::u16string_view(&patternCharacter, 1));
}

}  // namespace

bool HasWildcard(std::u16string_view pattern)
{
    return pattern.find_first_of(u"*?") != std::u16string_view::npos;
}

// Greedy matching that remembers the last '*' and lets it take one character
// more whenever the rest fails: linear in practice, never recursive.
bool NameMatchesPattern(std::u16string_view name, std::u16string_view pattern)
{
    if (pattern == u"*.*") {
        pattern = u"*";
    }
    std::size_t at = 0;
    std::size_t patternAt = 0;
    std::size_t starAt = std::u16string_view::npos;
    std::size_t resumeAt = 0;
    while (at < name.size()) {
        if (patternAt < pattern.size() && pattern[patternAt] == u'*') {
            starAt = patternAt++;
            resumeAt = at;
        } else if (patternAt < pattern.size() && SameCharacter(name[at], pattern[patternAt])) {
            ++at;
            ++patternAt;
        } else if (starAt != std::u16string_view::npos) {
            patternAt = starAt + 1;
            at = ++resumeAt;
        } else {
            return false;
        }
    }
    while (patternAt < pattern.size() && pattern[patternAt] == u'*') {
        ++patternAt;
    }
    return patternAt == pattern.size();
}

}  // namespace platform::shell
