#include "bench/spawned_process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <stdexcept>
#include <sys/wait.h>
#include <utility>

#include "platform/host/unique_fd.h"

extern char** environ;

namespace tavrel::bench {
namespace {

using platform::host::UniqueFd;

// Frees the spawn attributes and file actions however the start goes.
class SpawnPlan {
public:
    SpawnPlan()
    {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attributes_);
    }
    ~SpawnPlan()
    {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    SpawnPlan(const SpawnPlan&) = delete;
    SpawnPlan& operator=(const SpawnPlan&) = delete;

    void Map(int source, int target) { posix_spawn_file_actions_adddup2(&actions_, source, target); }
    void OpenNull(int target) { posix_spawn_file_actions_addopen(&actions_, target, "/dev/null", O_RDONLY, 0); }
    void Group(pid_t group)
    {
        posix_spawnattr_setpgroup(&attributes_, group);
        posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETPGROUP);
    }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

bool Maps(const std::vector<DescriptorMapping>& descriptors, int target)
{
    for (const DescriptorMapping& mapping : descriptors) {
        if (mapping.target == target) {
            return true;
        }
    }
    return false;
}

}  // namespace

SpawnedProcess::SpawnedProcess(const std::vector<std::string>& arguments,
                               const std::vector<DescriptorMapping>& descriptors, const std::filesystem::path& log,
                               ProcessGroup grouping, pid_t group)
{
    const UniqueFd logFile(::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    SpawnPlan plan;
    if (!Maps(descriptors, STDIN_FILENO)) {
        plan.OpenNull(STDIN_FILENO);
    }
    for (const int target : {STDOUT_FILENO, STDERR_FILENO}) {
        if (!Maps(descriptors, target) && logFile.valid()) {
            plan.Map(logFile.get(), target);
        }
    }
    for (const DescriptorMapping& mapping : descriptors) {
        plan.Map(mapping.source, mapping.target);
    }
    if (grouping != ProcessGroup::Inherit) {
        plan.Group(grouping == ProcessGroup::NewGroup ? 0 : group);
    }
    std::vector<std::string> texts = arguments;
    std::vector<char*> argv;
    for (std::string& text : texts) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);
    if (::posix_spawnp(&pid_, argv[0], plan.actions(), plan.attributes(), argv.data(), environ) != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + arguments.front());
    }
}

SpawnedProcess::~SpawnedProcess()
{
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        WaitExit();
    }
}

SpawnedProcess::SpawnedProcess(SpawnedProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), status_(std::exchange(other.status_, std::nullopt))
{
}

int SpawnedProcess::WaitExit()
{
    while (!status_) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, 0);
        if (done == pid_ || (done < 0 && errno != EINTR)) {
            status_ = status;
        }
    }
    return *status_;
}

std::optional<int> SpawnedProcess::WaitExitFor(std::chrono::milliseconds limit)
{
    // A descriptor that polls readable once the process has ended (glibc 2.36's header lacks extern "C").
    const UniqueFd process(status_ ? -1 : static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
    pollfd ended{process.get(), POLLIN, 0};
    if (status_ || !process.valid() || ::poll(&ended, 1, static_cast<int>(limit.count())) > 0) {
        return WaitExit();
    }
    return std::nullopt;
}

int SpawnedProcess::Stop(int signal, std::chrono::milliseconds grace)
{
    if (!status_) {
        ::kill(pid_, signal);
    }
    if (!WaitExitFor(grace)) {
        ::kill(pid_, SIGKILL);
    }
    return WaitExit();
}

std::string DescribeExit(int status)
{
    if (WIFEXITED(status)) {
        return "exit " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "killed by signal " + std::to_string(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

}  // namespace tavrel::bench
