// Where the files that come with a program lie (its modules, the programs it
// starts), found from the running program's own place (/proc/self/exe), so
// that a program finds its companions wherever the whole set was put: beside
// the program, or, for a program installed in bin/, in the build's library
// folder for them, ../lib/<multiarch>/<folder> or ../lib/<folder>. A program
// run from the build tree falls back on where the build put the file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The folder of the running program; empty when /proc cannot tell.
std::filesystem::path RunningProgramFolder();

// Where `name` may lie for a program in `programFolder`, in the order looked at.
std::vector<std::filesystem::path> CompanionCandidates(const std::filesystem::path& programFolder,
                                                       std::string_view name);

// The first candidate that is a regular file, else `built` when it is one;
// empty when none is.
std::filesystem::path FindCompanion(const std::filesystem::path& programFolder, std::string_view name,
                                    const std::filesystem::path& built = {});

// The line that says that `name` was not found, and where it was looked for.
std::string CompanionNotFound(const std::filesystem::path& programFolder, std::string_view name);

}  // namespace platform
