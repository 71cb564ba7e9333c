// Key and value names: what a valid name is, how names compare (without
// regard to case, as on the device), and how a key path splits into names.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::registry {

// How deep a key may sit below its root, as on Windows. It also bounds the
// recursion of everything that walks the tree.
inline constexpr std::size_t kMaxKeyDepth = 512;

// One path element: 1 to 255 characters, no backslash. Both kinds of name
// refuse control characters (so that the file keeps one entry a line) and lone
// surrogates (so that the file's UTF-8 gives back the same name).
bool IsValidKeyName(std::u16string_view name);
// Empty is the key's default value.
bool IsValidValueName(std::u16string_view name);

bool NamesEqual(std::u16string_view left, std::u16string_view right);

// "a\b\c" as its names; one leading backslash is allowed ("\a\b"), an empty
// path names the key itself. Nothing when an element is empty or invalid or
// when there are more than kMaxKeyDepth of them.
std::optional<std::vector<std::u16string>> SplitKeyPath(std::u16string_view path);

// Every surrogate is part of a pair.
bool IsWellFormedUtf16(std::u16string_view text);

}  // namespace platform::registry
