// Small reads of the host's files for the checks: every one of them answers
// "nothing" for a file that is missing or cannot be read, never throws.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavrel::host_check {

// The first line of a small file (a sysfs attribute, a process's comm)
// without surrounding blanks; empty when it cannot be read.
std::string FirstLine(const std::filesystem::path& file);

// Every line of a small file; none when it cannot be read.
std::vector<std::string> Lines(const std::filesystem::path& file);

// Where `path` leads with every link followed; nothing when it leads nowhere.
std::optional<std::filesystem::path> Resolved(const std::filesystem::path& path);

bool Exists(const std::filesystem::path& path);

// The entries of a folder, sorted by name; none when it cannot be read.
std::vector<std::filesystem::path> FolderEntries(const std::filesystem::path& folder);

}  // namespace tavrel::host_check
