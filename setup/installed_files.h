// Where the files that come with Tavrel lie, found from the running program's
// own place (/proc/self/exe), so that a program finds its companions wherever
// the whole set was put: beside the program (the programs of one folder, and
// the build tree's tools/compat/), or, for a program installed in bin/, in
// ../lib/<multiarch>/tavrel or ../lib/tavrel (where the package and
// `cmake --install` put the module and the preload library). A program run
// from the build tree falls back on where the build put the file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::tools {

inline constexpr const char* kVirtualPortModuleFile = "quorvel.dll";
inline constexpr const char* kStartupLauncherFile = "tavrel-startup";

// The folder of the running program; empty when /proc cannot tell.
std::filesystem::path RunningProgramFolder();

// Where `name` may lie for a program in `programFolder`, in the order looked at.
std::vector<std::filesystem::path> ShippedFileCandidates(const std::filesystem::path& programFolder,
                                                         std::string_view name);

// The first candidate that is a regular file, else `built` when it is one;
// empty when none is.
std::filesystem::path FindShippedFile(const std::filesystem::path& programFolder, std::string_view name,
                                      const std::filesystem::path& built = {});

// The module and the start-up launcher for the running program (the build's
// own as the last resort); empty when not found.
struct ShippedFiles {
    std::filesystem::path module;
    std::filesystem::path launcher;
};
ShippedFiles FindShippedFiles();

// The line that says that `name` was not found, and where it was looked for.
std::string NotFound(const std::filesystem::path& programFolder, std::string_view name);

}  // namespace tavrel::tools
