#include "testkit/temp_folder.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace tavrel::testing {

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tavrel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadWholeFile(const std::filesystem::path& file)
{
    std::error_code missing;
    const auto size = std::filesystem::file_size(file, missing);
    std::string text(missing ? 0 : size, '\0');
    std::ifstream input(file, std::ios::binary);
    input.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

void WriteWholeFile(const std::filesystem::path& file, const std::string& text)
{
    std::ofstream output(file, std::ios::binary | std::ios::trunc);
    output << text;
}

}  // namespace tavrel::testing
