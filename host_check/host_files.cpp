#include "host_check/host_files.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace tavrel::host_check {
namespace {

namespace fs = std::filesystem;

// sysfs attributes, comm and udev records are far shorter: reading stops
// after this much, whatever else the file holds.
constexpr std::size_t kLongestFile = 64 * 1024;

std::string Trimmed(const std::string& text)
{
    const auto isBlank = [](unsigned char c) { return std::isspace(c) != 0; };
    const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

}  // namespace

std::vector<std::string> Lines(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    std::size_t read = 0;
    for (std::string line; read < kLongestFile && std::getline(in, line); read += line.size() + 1) {
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string FirstLine(const fs::path& file)
{
    const std::vector<std::string> lines = Lines(file);
    return lines.empty() ? std::string() : Trimmed(lines.front());
}

std::optional<fs::path> Resolved(const fs::path& path)
{
    std::error_code error;
    fs::path target = fs::canonical(path, error);
    return error ? std::nullopt : std::optional<fs::path>(std::move(target));
}

bool Exists(const fs::path& path)
{
    std::error_code error;
    return fs::exists(path, error);
}

std::vector<fs::path> FolderEntries(const fs::path& folder)
{
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

}  // namespace tavrel::host_check
