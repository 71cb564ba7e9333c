#include "desktop_entry_reader.h"

#include <cstdlib>
#include <map>
#include <sstream>
#include <unistd.h>

namespace tavrel::testing {
namespace {

std::string UndoStringEscapes(const std::string& raw)
{
    static const std::map<char, char> escapes{{'s', ' '}, {'n', '\n'}, {'t', '\t'}, {'r', '\r'}, {'\\', '\\'}};
    std::string value;
    for (auto at = raw.begin(); at != raw.end(); ++at) {
        const auto escape = *at == '\\' && at + 1 != raw.end() ? escapes.find(*(at + 1)) : escapes.end();
        if (escape != escapes.end()) {
            value += escape->second;
            ++at;
        } else {
            value += *at;
        }
    }
    return value;
}

}  // namespace

std::optional<std::string> DesktopEntryValue(const std::string& entry, const std::string& key)
{
    std::istringstream lines(entry);
    std::string group;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.front() == '[') {
            group = line;
        } else if (group == "[Desktop Entry]" && line.compare(0, key.size() + 1, key + "=") == 0) {
            return UndoStringEscapes(line.substr(key.size() + 1));
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> ExecArguments(const std::string& exec)
{
    const std::string reservedOutsideQuotes = "\t\n'\\><~|&;$*?#()`";
    const std::string escapedInsideQuotes = "\"`$\\";
    std::vector<std::string> arguments;
    std::optional<std::string> current;
    bool quoted = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == '%') {
            if (i + 1 == exec.size() || exec[++i] != '%') {
                return std::nullopt;   // a field code; the installer writes none
            }
            current = current.value_or("") + '%';
        } else if (c == '"') {
            quoted = !quoted;
            current = current.value_or("");
        } else if (quoted && c == '\\') {
            if (++i == exec.size() || escapedInsideQuotes.find(exec[i]) == std::string::npos) {
                return std::nullopt;
            }
            current = current.value_or("") + exec[i];
        } else if (quoted ? (c == '`' || c == '$') : reservedOutsideQuotes.find(c) != std::string::npos) {
            return std::nullopt;   // must be escaped, or quoted
        } else if (c == ' ' && !quoted) {
            if (current) {
                arguments.push_back(*current);
            }
            current.reset();
        } else {
            current = current.value_or("") + c;
        }
    }
    if (quoted) {
        return std::nullopt;
    }
    if (current) {
        arguments.push_back(*current);
    }
    return arguments;
}

std::string ProgramOnPath(const std::string& name)
{
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

}  // namespace tavrel::testing
