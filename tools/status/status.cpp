// tavrel-status: what the running Tavrel of the person's device is doing, for
// scripts and headless machines. It asks Tavrel itself, over the socket that
// Tavrel serves in the device's run folder, so what it shows is taken at the
// moment of asking.
//
//   tavrel-status           the input, the virtual ports and the network outputs, as a table
//   tavrel-status --json    the same as one JSON object
//
// Exit 0 with the answer; 1 when no Tavrel runs on the device; 2 for a wrong
// argument.
#include <cstdio>
#include <optional>
#include <string>

#include "command_line/command_options.h"
#include "platform/answer_socket.h"
#include "platform/boot.h"
#include "status/status_service.h"

namespace {

const tavrel::command_line::Command kStatus{
    "tavrel-status", "tavrel-status [--json]\n",
    "Shows what the running Tavrel of this device is doing: the input, each virtual\n"
    "port (bytes relayed and dropped, whether a program has it open, its path) and\n"
    "the network outputs. --json prints the same as one JSON object.\n"
    "Exits 1 when no Tavrel runs on this device.\n"
    "Settings are changed with tavrel-config.\n"};

int Ask(const char* request)
{
    const platform::DeviceSettings device = platform::DeviceSettingsFromEnvironment();
    const std::optional<std::string> answer =
        platform::AskAnswerSocket(platform::AnswerSocketPath(device.deviceRoot, kStatusSocketName), request);
    if (!answer || answer->empty()) {
        std::fputs("tavrel-status: no Tavrel runs on this device\n", stderr);
        return 1;
    }
    std::fputs(answer->c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> answered = tavrel::command_line::AnswerHelpOrVersion(kStatus, argc, argv)) {
        return *answered;
    }
    const std::string argument = argc > 1 ? argv[1] : "";
    if (argc > 2 || (argc == 2 && argument != "--json")) {
        return tavrel::command_line::WrongUsage(kStatus);
    }
    return Ask(argument == "--json" ? "json" : "table");
}
