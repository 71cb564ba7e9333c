// The text of a device shortcut (a ".lnk" file): the number of characters of
// its target, '#', and the target, a device path in double quotes, optionally
// followed by arguments:  34#"\Program Files\Tavrel\Tavrel.exe"
// Writing and reading go through here, so that what the installer writes is
// exactly what the start-up launcher accepts.
#pragma once

#include <string>
#include <string_view>

namespace tavrel::setup {

// The shortcut text (UTF-8) that starts the program at `devicePath`.
std::string ShortcutText(std::u16string_view devicePath);

// What a shortcut names: the target's device path, or why the text is not a
// shortcut (then `target` is empty and `problem` says what is wrong).
struct ShortcutTarget {
    std::u16string target;
    std::string problem;
};

// Reads a shortcut's text (UTF-8). Line ends after the text are allowed;
// arguments after a quoted target are not part of it.
ShortcutTarget ReadShortcutText(std::string_view text);

// Whether two device paths name the same file: the device's file names are
// case-insensitive.
bool SameDevicePath(std::u16string_view left, std::u16string_view right);

}  // namespace tavrel::setup
