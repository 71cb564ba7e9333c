// Where a person's files go: the home folder, and the XDG base folders under
// it. One rule for every program of ours, so that the installer, the login
// entry and the program itself always agree on the same places.
#pragma once

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace platform::host {

// $HOME; else the home folder of the password database; else (a user with
// neither, as in some containers) the temporary folder, so that a path is
// always absolute and never lands in whatever folder a process started in.
inline std::filesystem::path HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    std::vector<char> buffer(16 * 1024);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && *found->pw_dir != '\0') {
        return found->pw_dir;
    }
    std::error_code error;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    return error ? std::filesystem::path("/tmp") : temporary;
}

// An XDG base folder: the variable's value when it is an absolute path (the
// XDG rule: a relative value is ignored), else `underHome` in the home folder
// (".local/share" for XDG_DATA_HOME, ".config" for XDG_CONFIG_HOME).
inline std::filesystem::path XdgBaseFolder(const char* variable, const std::filesystem::path& underHome)
{
    const char* value = std::getenv(variable);
    const std::filesystem::path configured = value != nullptr ? value : "";
    if (!configured.empty() && configured.is_absolute()) {
        return configured;
    }
    return HomeFolder() / underHome;
}

}  // namespace platform::host
