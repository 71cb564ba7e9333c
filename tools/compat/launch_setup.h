// What tavrel-compat puts into the environment of the program it runs: the
// library to preload (found as platform/companion_files.h finds what comes with
// Tavrel) and the folders in which Tavrel's port links lie.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tavrel::compat {

// LD_PRELOAD with `library` in front of what the caller had (`existing`,
// null or empty when nothing).
std::string PreloadList(const std::filesystem::path& library, const char* existing);

// Whether the dynamic loader can take `library` from LD_PRELOAD, which
// splits its list at spaces and colons.
bool PreloadablePath(const std::filesystem::path& library);

// The folders whose links name Tavrel's ports: `ownFolder` (this person's,
// made absolute) and every folder directly under `systemFolder` that is a
// real folder, not a link to one. Each once.
std::vector<std::filesystem::path> PortFolders(const std::filesystem::path& ownFolder,
                                               const std::filesystem::path& systemFolder);

struct JoinedFolders {
    std::string text;                               // separated by ':'
    std::vector<std::filesystem::path> leftOut;     // names with a ':', which the list cannot hold
};
JoinedFolders JoinFolders(const std::vector<std::filesystem::path>& folders);

}  // namespace tavrel::compat
