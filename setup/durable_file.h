// Replacing a small file of the host (the login session's autostart entry,
// the machine's tmpfiles.d entry) so that whoever reads it, at any moment and
// after a crash or a power loss at any moment, finds the old file or the new
// one whole, and the new one is on disk once the call returns.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace tavrel::setup {

// Makes the folder if it is missing, writes `text` to a temporary file of
// this call's own beside `file` (with `mode`), syncs it, renames it over
// `file` and syncs the folder. Returns what went wrong, naming the file and
// the reason, or an empty text. On a failure before the rename the old file
// is untouched and no temporary file is left.
std::string WriteFileDurably(const std::filesystem::path& file, std::string_view text, mode_t mode);

// How the tools tell a failed file call: "<what> <file>: <the errno's text>",
// e.g. "cannot remove /a/b: Permission denied".
std::string FileProblem(std::string_view what, const std::filesystem::path& file, int error);

}  // namespace tavrel::setup
