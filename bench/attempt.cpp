#include "bench/attempt.h"

#include <fstream>

namespace tavrel::bench {

std::string LogTail(const std::filesystem::path& log)
{
    std::ifstream file(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    std::string tail;
    for (std::size_t i = lines.size() > 3 ? lines.size() - 3 : 0; i < lines.size(); ++i) {
        tail += " / " + lines[i];
    }
    return tail.empty() ? "" : " (log:" + tail + ")";
}

}  // namespace tavrel::bench
