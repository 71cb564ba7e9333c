// A program started as a process of its own, with an environment of our
// choosing and its output kept in files, as a shell or a boot script runs it.
// Processes that must start at the same moment wait at a barrier.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/unique_fd.h"

namespace tavrel::testing {

// Holds the processes started through it until Release(), then lets them all
// go at once. Each waits for the end of a pipe whose writing end only this
// process holds, so a process that comes to the barrier late is not left
// behind.
class StartBarrier {
public:
    StartBarrier();
    StartBarrier(const StartBarrier&) = delete;
    StartBarrier& operator=(const StartBarrier&) = delete;

    // The end that waiting processes read; never fd 0 to 2, nor the fd it is given to.
    int waitingEnd() const { return waiting_.get(); }
    void Release() { releasing_ = platform::host::UniqueFd(); }

private:
    platform::host::UniqueFd waiting_;
    platform::host::UniqueFd releasing_;
};

class ChildProcess {
public:
    // Starts `program` with `arguments`; `environment` adds to (or replaces
    // in) this process's environment. Standard output and error go to
    // `output` and `output`.err. With a barrier, the program starts only
    // when the barrier is released (the process id is the same throughout).
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment, const std::filesystem::path& output,
                 const StartBarrier* barrier = nullptr);
    // A process that this one adopted (see BecomeSubreaper); its output went
    // where its parent's did, `output` and `output`.err.
    ChildProcess(pid_t adopted, const std::filesystem::path& output);
    // Kills a process that still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void Signal(int signal) const;
    // Its exit code once it has ended; nothing when it still runs after
    // `timeout` or was ended by a signal.
    std::optional<int> WaitExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    std::string Output() const;
    std::string Errors() const;

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    std::filesystem::path output_;
};

// Makes this process the parent of every process that its children leave
// behind when they end (the start-up launcher's detached program), so that a
// test can wait for them and end them. False when the host does not allow it.
bool BecomeSubreaper();
// Whether this process has no children left to wait for.
bool NoChildrenLeft();

// A user other than the test's, as setpriv makes one: user and group ids,
// and the supplementary groups (none when empty).
struct OtherUser {
    uid_t uid = 65534;   // nobody
    gid_t gid = 65534;   // nogroup
    std::vector<gid_t> groups;
};
inline constexpr const char* kSetpriv = "/usr/bin/setpriv";
// setpriv's arguments that run `program` with `arguments` as `user`; the
// process keeps its id through setpriv's exec.
std::vector<std::string> SetprivArguments(const OtherUser& user, const std::string& program,
                                          const std::vector<std::string>& arguments = {});

// The environment that runs the program on the device at `deviceRoot`,
// headless, with its virtual ports linked in `portFolder` and its login
// entries (XDG_CONFIG_HOME) in config/ beside the device root.
std::map<std::string, std::string> DeviceEnvironment(const std::filesystem::path& deviceRoot,
                                                     const std::filesystem::path& portFolder);

}  // namespace tavrel::testing
