#include "command_line/command_options.h"

#include <cstdio>

namespace tavrel::command_line {
namespace {

void Print(std::FILE* stream, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

std::string_view Version()
{
    return TAVREL_VERSION;
}

std::optional<int> AnswerHelpOrVersion(const Command& command, int argc, const char* const* argv)
{
    if (argc < 2) {
        return std::nullopt;
    }
    const std::string_view option = argv[1];
    if (option == "--help" || option == "-h") {
        Print(stdout, Usage(command));
        return 0;
    }
    if (option == "--version") {
        Print(stdout, std::string(command.name) + " " + std::string(Version()) + "\n");
        return 0;
    }
    return std::nullopt;
}

std::string Usage(const Command& command)
{
    std::string usage;
    std::string_view synopses = command.synopses;
    while (!synopses.empty()) {
        const std::size_t end = synopses.find('\n');
        const std::string_view line = synopses.substr(0, end);
        usage.append(usage.empty() ? "usage: " : "       ").append(line).append("\n");
        synopses.remove_prefix(end == std::string_view::npos ? synopses.size() : end + 1);
    }
    usage.append(usage.empty() ? "usage: " : "       ").append(command.name).append(" --help | --version\n");
    return usage.append(command.description);
}

int WrongUsage(const Command& command)
{
    Print(stderr, Usage(command));
    return kWrongUsage;
}

}  // namespace tavrel::command_line
