#include "bench/tavrel_relay.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <sys/wait.h>

#include "bench/tavrel_device.h"
#include "testkit/temp_folder.h"

namespace tavrel::bench {
namespace {

// How long one of the tools may take.
constexpr std::chrono::seconds kToolLimit{30};

// Runs one of the tools to its end, its output appended to `log`; throws when it fails.
void RunTool(const std::vector<std::string>& arguments, const std::filesystem::path& log)
{
    SpawnedProcess tool(arguments, {}, log);
    const std::optional<int> ended = tool.WaitExitFor(kToolLimit);
    const int status = ended ? *ended : tool.Stop(SIGKILL, kToolLimit);
    if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(arguments.front() + " failed (" + DescribeExit(status) + "), see " + log.string());
    }
}

std::string LowerCaseText(const std::filesystem::path& file)
{
    std::string text = testing::ReadWholeFile(file);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

}  // namespace

TavrelRelay::TavrelRelay(const std::filesystem::path& folder, const std::string& inputTty, int outputs,
                         int baudIndex, std::uint16_t tcpPort)
    : folder_(folder)
{
    tcpPort_ = tcpPort;
    const std::filesystem::path portFolder = folder_ / "ports";
    // The program and the tools find their device through the environment, as scripts/run sets it.
    ::setenv("TAVREL_DEVICE_ROOT", deviceRoot().c_str(), 1);
    ::setenv("TAVREL_PORT_DIR", portFolder.c_str(), 1);
    ::setenv("TAVREL_DISPLAY", "headless", 1);
    // The installer registers a login entry: it goes to the run's folder, never to the person's session.
    ::setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
    const std::filesystem::path setupLog = folder_ / "setup.log";
    RunTool({TAVREL_INSTALL_PATH}, setupLog);
    RunTool({TAVREL_DEMO_SETUP_PATH, inputTty, std::to_string(baudIndex)}, setupLog);
    const std::vector<int> numbers = OutputNumbers(outputs);
    ChooseOutputs(deviceRoot(), portFolder, numbers, inputTty);
    splitMask_ = SplitMask(numbers);
    if (tcpPort != 0) {
        RunTool({TAVREL_CONFIG_PATH, "tcp-port", std::to_string(tcpPort)}, setupLog);
    }
    std::filesystem::create_directories(portFolder);
    for (const int number : numbers) {
        outputLinks_.push_back(portFolder / ("COM" + std::to_string(number)));
    }
}

void TavrelRelay::Launch()
{
    program_.emplace(std::vector<std::string>{TAVREL_PROGRAM_PATH}, std::vector<DescriptorMapping>{}, log());
}

void TavrelRelay::Configure(const std::vector<std::string>& words)
{
    std::vector<std::string> arguments = {TAVREL_CONFIG_PATH};
    arguments.insert(arguments.end(), words.begin(), words.end());
    RunTool(arguments, folder_ / "setup.log");
}

std::string TavrelRelay::Status() const
{
    const std::filesystem::path answer = folder_ / "status.json";
    std::filesystem::remove(answer);
    try {
        RunTool({TAVREL_STATUS_PATH, "--json"}, answer);
    } catch (const std::runtime_error&) {
        return {};
    }
    return testing::ReadWholeFile(answer);
}

std::vector<pid_t> TavrelRelay::processes() const
{
    return program_ ? std::vector<pid_t>{program_->pid()} : std::vector<pid_t>{};
}

void TavrelRelay::Terminate()
{
    exitStatus_ = program_->Stop(SIGTERM, kExitGrace);
}

// The outputs are still stored after the exit. Tavrel writes at its exit
// only what the person changed in its window, so an unattended run that
// nobody touched leaves the settings file as it was.
bool TavrelRelay::SettingsKept() const
{
    char split[32];
    std::snprintf(split, sizeof split, "\"split\"=dword:%08x", static_cast<unsigned>(splitMask_));
    return LowerCaseText(userHive()).find(split) != std::string::npos;
}

ExitOutcome TavrelRelay::Outcome() const
{
    const ExitOutcome links = LinksLeft();
    const bool kept = SettingsKept();
    return {DescribeExit(exitStatus_) + ", " + (kept ? "settings kept" : "settings NOT kept") + ", " + links.words,
            kept && links.asRequired};
}

}  // namespace tavrel::bench
