#include "setup/shortcut_text.h"

#include <algorithm>
#include <charconv>

#include "platform/strings.h"

namespace tavrel::setup {
namespace {

// More digits than any device path needs (MAX_PATH is 260).
constexpr std::size_t kMostLengthDigits = 4;

ShortcutTarget Problem(std::string problem)
{
    return {{}, std::move(problem)};
}

std::string_view WithoutLineEnds(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

char16_t FoldCase(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

}  // namespace

std::string ShortcutText(std::u16string_view devicePath)
{
    // Appended piece by piece: GCC 12 wrongly warns (-Wrestrict) about a
    // literal + string at -O3.
    std::u16string target(1, u'"');
    target += devicePath;
    target += u'"';
    return std::to_string(target.size()) + "#" + platform::ToUtf8(target);
}

ShortcutTarget ReadShortcutText(std::string_view text)
{
    text = WithoutLineEnds(text);
    const std::size_t hash = text.find('#');
    if (hash == std::string_view::npos || hash == 0 || hash > kMostLengthDigits) {
        return Problem("it does not start with the target's length and '#'");
    }
    std::size_t length = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + hash, length);
    if (error != std::errc{} || end != text.data() + hash) {
        return Problem("it does not start with the target's length and '#'");
    }
    const std::u16string command = platform::ToUtf16(text.substr(hash + 1));
    if (command.size() != length) {
        return Problem("it gives its target " + std::to_string(length) + " characters but the target has " +
                       std::to_string(command.size()));
    }
    std::u16string target = command;
    if (!command.empty() && command.front() == u'"') {
        const std::size_t closing = command.find(u'"', 1);
        if (closing == std::u16string::npos) {
            return Problem("the quotes around its target are not closed");
        }
        target = command.substr(1, closing - 1);
    }
    if (target.empty()) {
        return Problem("it names no target");
    }
    return {target, {}};
}

bool SameDevicePath(std::u16string_view left, std::u16string_view right)
{
    return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                      [](char16_t a, char16_t b) { return FoldCase(a) == FoldCase(b); });
}

}  // namespace tavrel::setup
