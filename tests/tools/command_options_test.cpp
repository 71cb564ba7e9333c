// Every command answers --help with its usage on stdout and --version with
// its name and Tavrel's version, both with exit code 0, before it does
// anything else (no window, no device, no simulated receiver); a wrong
// option gets the usage on stderr and exit code 2.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "child_process.h"
#include "device_processes.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::vector<std::string> kCommands = {TAVREL_PROGRAM_PATH, TAVREL_INSTALL_PATH,  TAVREL_STARTUP_PATH,
                                            TAVREL_STATUS_PATH,  TAVREL_CONFIG_PATH,   TAVREL_COMPAT_PATH,
                                            TAVREL_SIMULATOR_PATH, TAVREL_DEMO_SETUP_PATH};

class CommandOptionsTest : public ::testing::TestWithParam<std::string> {
protected:
    std::string Name() const { return fs::path(GetParam()).filename().string(); }

    struct Answer {
        std::optional<int> exitCode;
        std::string output;
        std::string errors;
    };
    Answer Ask(const std::string& option)
    {
        ChildProcess command = device_.Run(GetParam(), "ask" + std::to_string(++asked_), {option});
        const std::optional<int> code = command.WaitExit(60s);
        return {code, command.Output(), command.Errors()};
    }

    BootRunDevice device_;
    int asked_ = 0;
};

TEST_P(CommandOptionsTest, HelpAndVersionAnswerAtOnceAndAWrongOptionIsRefused)
{
    const Answer help = Ask("--help");
    EXPECT_EQ(help.exitCode, 0) << help.errors;
    EXPECT_EQ(help.output.rfind("usage: " + Name(), 0), 0u) << help.output;
    EXPECT_NE(help.output.find(Name() + " --help | --version\n"), std::string::npos) << help.output;
    EXPECT_EQ(help.errors, "");

    const Answer version = Ask("--version");
    EXPECT_EQ(version.exitCode, 0) << version.errors;
    EXPECT_EQ(version.output, Name() + " " + TAVREL_VERSION + "\n");

    // Nothing was done: no device was made, nothing registered with the session.
    EXPECT_FALSE(Exists(device_.root()));
    EXPECT_FALSE(Exists(device_.configFolder()));

    if (Name() != "tavrel-compat" && Name() != "tavrel-config") {   // they take a program, a setting's name
        const Answer wrong = Ask("--no-such-option");
        EXPECT_EQ(wrong.exitCode, 2) << wrong.errors;
        EXPECT_EQ(wrong.errors.rfind("usage: " + Name(), 0), 0u) << wrong.errors;
        EXPECT_EQ(wrong.output, "");
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, CommandOptionsTest, ::testing::ValuesIn(kCommands),
                         [](const auto& command) {
                             std::string name = fs::path(command.param).filename().string();
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
