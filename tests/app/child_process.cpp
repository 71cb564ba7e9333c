#include "child_process.h"

#include <csignal>
#include <fcntl.h>
#include <cerrno>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>

#include "testkit/temp_folder.h"

extern char** environ;

namespace tavrel::testing {
namespace {

// This process's environment with `changes` applied, as "NAME=value" texts.
std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& changes)
{
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (changes.count(text.substr(0, text.find('='))) == 0) {
            merged.push_back(text);
        }
    }
    for (const auto& [name, value] : changes) {
        merged.push_back(name + "=" + value);
    }
    return merged;
}

// The barrier's end as the child sees it.
constexpr int kBarrierFd = 3;

// The child shell waits for the barrier's end (a read that returns at the
// end of the pipe), lets go of it and becomes the program.
std::vector<std::string> BehindBarrier(std::vector<std::string> command)
{
    const std::string wait = "read -r _ <&" + std::to_string(kBarrierFd) + "; exec " + std::to_string(kBarrierFd) +
                             "<&-; exec \"$0\" \"$@\"";
    command.insert(command.begin(), {"/bin/sh", "-c", wait});
    return command;
}

std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

StartBarrier::StartBarrier()
{
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return;
    }
    // Above the standard descriptors and the child's barrier descriptor, so
    // that the child's dup2 always makes a new descriptor without close-on-exec.
    waiting_ = platform::host::UniqueFd(::fcntl(ends[0], F_DUPFD_CLOEXEC, kBarrierFd + 1));
    ::close(ends[0]);
    releasing_ = platform::host::UniqueFd(ends[1]);
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment, const std::filesystem::path& output,
                           const StartBarrier* barrier)
    : output_(output)
{
    std::vector<std::string> argumentTexts{program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    if (barrier != nullptr) {
        argumentTexts = BehindBarrier(std::move(argumentTexts));
    }
    std::vector<std::string> environmentTexts = MergedEnvironment(environment);
    std::vector<char*> argv = Pointers(argumentTexts);
    std::vector<char*> envp = Pointers(environmentTexts);
    const std::string errors = output.string() + ".err";

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (barrier != nullptr) {
        posix_spawn_file_actions_adddup2(&actions, barrier->waitingEnd(), kBarrierFd);
    }
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::ChildProcess(pid_t adopted, const std::filesystem::path& output) : pid_(adopted), output_(output) {}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
    }
}

void ChildProcess::Signal(int signal) const
{
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, signal);
    }
}

std::optional<int> ChildProcess::WaitExit(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0 && !reaped_) {
        const pid_t done = ::waitpid(pid_, &status_, WNOHANG);
        if (done == pid_) {
            reaped_ = true;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (!reaped_ || !WIFEXITED(status_)) {
        return std::nullopt;
    }
    return WEXITSTATUS(status_);
}

std::string ChildProcess::Output() const
{
    return ReadWholeFile(output_);
}

std::string ChildProcess::Errors() const
{
    return ReadWholeFile(output_.string() + ".err");
}

bool BecomeSubreaper()
{
    return ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
}

bool NoChildrenLeft()
{
    siginfo_t info{};
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == -1 && errno == ECHILD;
}

std::vector<std::string> SetprivArguments(const OtherUser& user, const std::string& program,
                                          const std::vector<std::string>& arguments)
{
    std::string groups;
    for (const gid_t group : user.groups) {
        groups += (groups.empty() ? "" : ",") + std::to_string(group);
    }
    std::vector<std::string> command{"--reuid=" + std::to_string(user.uid), "--regid=" + std::to_string(user.gid),
                                     groups.empty() ? "--clear-groups" : "--groups=" + groups, "--", program};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

std::map<std::string, std::string> DeviceEnvironment(const std::filesystem::path& deviceRoot,
                                                     const std::filesystem::path& portFolder)
{
    // The program sets up its device at its first start, login entry
    // included: that goes beside the device, never into the person's session.
    return {{"TAVREL_DEVICE_ROOT", deviceRoot.string()},
            {"TAVREL_PORT_DIR", portFolder.string()},
            {"TAVREL_DISPLAY", "headless"},
            {"XDG_CONFIG_HOME", (deviceRoot.parent_path() / "config").string()}};
}

}  // namespace tavrel::testing
