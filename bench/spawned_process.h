// A program started as a child process (posix_spawn, so the time to its exec
// is the spawn call): standard input from /dev/null unless the caller maps a
// descriptor onto it, standard output and error appended to a log file
// unless mapped, optionally in a process group. One that still runs at the
// end is killed and reaped, so that no child outlives the benchmark.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavrel::bench {

// In the child, descriptor `source` of this process becomes `target`.
struct DescriptorMapping {
    int source = -1;
    int target = -1;
};

enum class ProcessGroup { Inherit, NewGroup, Join };

class SpawnedProcess {
public:
    // Throws std::runtime_error when the program cannot be started. `group`
    // is joined only with ProcessGroup::Join.
    SpawnedProcess(const std::vector<std::string>& arguments, const std::vector<DescriptorMapping>& descriptors,
                   const std::filesystem::path& log, ProcessGroup grouping = ProcessGroup::Inherit, pid_t group = 0);
    ~SpawnedProcess();
    SpawnedProcess(SpawnedProcess&& other) noexcept;
    SpawnedProcess& operator=(SpawnedProcess&&) = delete;
    SpawnedProcess(const SpawnedProcess&) = delete;
    SpawnedProcess& operator=(const SpawnedProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Blocks until the process has ended; its wait status.
    int WaitExit();
    // The wait status once the process has ended, waiting at most `limit`;
    // nothing while it still runs.
    std::optional<int> WaitExitFor(std::chrono::milliseconds limit);
    // Sends `signal` and waits at most `grace` for the process to end; kills
    // it when it has not by then. Its wait status.
    int Stop(int signal, std::chrono::milliseconds grace);

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// "exit 1", "killed by signal 15": a wait status in words.
std::string DescribeExit(int status);

}  // namespace tavrel::bench
