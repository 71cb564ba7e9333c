// Reads a desktop entry as a login session does, following freedesktop.org's
// rules for desktop entries on its own so that it checks the installer's escaping
// instead of mirroring it: a key's value with the string escapes undone, an
// Exec value split into its arguments, and the program found on PATH.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tavrel::testing {

// The value of `key` in the [Desktop Entry] group; nothing when absent.
std::optional<std::string> DesktopEntryValue(const std::string& entry, const std::string& key);

// The arguments of an Exec value (string escapes already undone): split at
// spaces outside double quotes; inside them '"', '`', '$' and '\' stand
// escaped by a '\'; outside them the reserved characters do not stand at
// all; "%%" is a '%'. Nothing for a value that breaks those rules.
std::optional<std::vector<std::string>> ExecArguments(const std::string& exec);

// `name` as the session finds it: itself when it holds a '/', else the
// first executable file of that name in PATH's folders; empty when none.
std::string ProgramOnPath(const std::string& name);

}  // namespace tavrel::testing
