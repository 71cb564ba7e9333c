// Reading a small file whole (a shortcut, a desktop entry): nothing when it
// cannot be read or is larger than the limit, so that a stray large file is
// refused instead of read into memory.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace tavrel::tools {

inline constexpr std::size_t kSmallFileLimit = 64 * 1024;

std::optional<std::string> ReadSmallFile(const std::filesystem::path& file, std::size_t limit = kSmallFileLimit);

}  // namespace tavrel::tools
