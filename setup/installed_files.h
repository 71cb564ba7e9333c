// The files that come with Tavrel: the driver module and the start-up
// launcher, found as every companion of a program is (platform/companion_files.h),
// with where the build put them as the build tree's last resort.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/companion_files.h"

namespace tavrel::setup {

inline constexpr const char* kVirtualPortModuleFile = "quorvel.dll";
inline constexpr const char* kStartupLauncherFile = "tavrel-startup";

// The module and the start-up launcher for the running program (the build's
// own as the last resort); empty when not found.
struct ShippedFiles {
    std::filesystem::path module;
    std::filesystem::path launcher;
};
ShippedFiles FindShippedFiles();

}  // namespace tavrel::setup
