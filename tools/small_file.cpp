#include "tools/small_file.h"

#include <fstream>

namespace tavrel::tools {

std::optional<std::string> ReadSmallFile(const std::filesystem::path& file, std::size_t limit)
{
    std::ifstream input(file, std::ios::binary);
    if (!input) {
        return std::nullopt;
    }
    std::string text(limit + 1, '\0');
    input.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (input.bad() || static_cast<std::size_t>(input.gcount()) > limit) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(input.gcount()));
    return text;
}

}  // namespace tavrel::tools
