// The options that every Tavrel command answers the same way before it does
// anything else: --help (or -h) prints its usage on stdout, --version prints
// "<command> <version>"; both exit 0. A wrong command line gets the usage on
// stderr and the exit code 2.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavrel::command_line {

struct Command {
    std::string_view name;          // as a person types it: "tavrel-status"
    std::string_view synopses;      // its command lines, each "tavrel-status [--json]\n"
    std::string_view description;   // what it does, each line ending in '\n'
};

inline constexpr int kWrongUsage = 2;

// Tavrel's version, the same for every command.
std::string_view Version();

// When the first argument asks for help or the version: answers it and gives
// the exit code. Nothing otherwise (the command goes on).
std::optional<int> AnswerHelpOrVersion(const Command& command, int argc, const char* const* argv);

// "usage: " and the command lines, the help and version line, and the description.
std::string Usage(const Command& command);
// The usage on stderr; the exit code of a wrong command line.
int WrongUsage(const Command& command);

}  // namespace tavrel::command_line
