// Names compare as the device compares them: by their upper-case form. The
// folding covers ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic, which is
// where the names of this registry come from.
#include "registry/names.h"

#include <algorithm>

#include "platform/registry.h"

namespace platform::registry {
namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool Between(char16_t c, char16_t first, char16_t last) { return c >= first && c <= last; }

// In Latin Extended-A the letters come in pairs, upper case first; two runs
// start on an odd code point instead.
char16_t UpperLatinExtendedA(char16_t c)
{
    const bool oddPairs = Between(c, 0x0139, 0x0148) || Between(c, 0x0179, 0x017E);
    const bool evenPairs = Between(c, 0x0100, 0x0137) || Between(c, 0x014A, 0x0177);
    const bool isLower = oddPairs ? (c % 2 == 0) : (c % 2 == 1);
    return (oddPairs || evenPairs) && isLower ? static_cast<char16_t>(c - 1) : c;
}

char16_t ToUpper(char16_t c)
{
    if (Between(c, u'a', u'z') || (Between(c, 0x00E0, 0x00FE) && c != 0x00F7) || Between(c, 0x03B1, 0x03CB)) {
        // Final sigma (U+03C2) has no upper case of its own: it folds to Sigma like U+03C3.
        return c == 0x03C2 ? char16_t{0x03A3} : static_cast<char16_t>(c - 0x20);
    }
    if (c == 0x00FF) {
        return 0x0178;
    }
    if (Between(c, 0x0430, 0x044F)) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (Between(c, 0x0450, 0x045F)) {
        return static_cast<char16_t>(c - 0x50);
    }
    return UpperLatinExtendedA(c);
}

bool HasControlCharacter(std::u16string_view name)
{
    return std::any_of(name.begin(), name.end(), [](char16_t c) { return c < 0x20; });
}

}  // namespace

bool IsWellFormedUtf16(std::u16string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            ++i;
        } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
            return false;
        }
    }
    return true;
}

bool IsValidKeyName(std::u16string_view name)
{
    return !name.empty() && name.size() <= MAX_KEY_NAME_LENGTH && name.find(u'\\') == std::u16string_view::npos &&
           !HasControlCharacter(name) && IsWellFormedUtf16(name);
}

bool IsValidValueName(std::u16string_view name)
{
    return name.size() <= MAX_VALUE_NAME_LENGTH && !HasControlCharacter(name) && IsWellFormedUtf16(name);
}

bool NamesEqual(std::u16string_view left, std::u16string_view right)
{
    return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                      [](char16_t a, char16_t b) { return ToUpper(a) == ToUpper(b); });
}

std::optional<std::vector<std::u16string>> SplitKeyPath(std::u16string_view path)
{
    if (path.starts_with(u'\\')) {
        path.remove_prefix(1);
    }
    std::vector<std::u16string> names;
    while (!path.empty()) {
        const std::size_t end = std::min(path.find(u'\\'), path.size());
        const std::u16string_view name = path.substr(0, end);
        if (!IsValidKeyName(name) || names.size() == kMaxKeyDepth) {
            return std::nullopt;
        }
        names.emplace_back(name);
        path.remove_prefix(end);
        // A separator must be followed by a name: "a\" ends in an empty one.
        if (path.starts_with(u'\\')) {
            path.remove_prefix(1);
            if (path.empty()) {
                return std::nullopt;
            }
        }
    }
    return names;
}

}  // namespace platform::registry
