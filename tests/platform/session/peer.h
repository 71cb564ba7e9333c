// Drives a session_peer process: another process of a device, started with
// posix_spawn and spoken to line by line over pipes.
#pragma once

#include <sys/types.h>

#include <deque>
#include <filesystem>
#include <string>

#include "platform/host/unique_fd.h"

namespace tavrel::testing {

class Peer {
public:
    // Starts the peer on the device root and waits until it has booted.
    explicit Peer(const std::filesystem::path& deviceRoot);
    // Ends its input and waits for it to finish.
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    pid_t pid() const { return pid_; }
    bool ready() const { return pid_ > 0; }

    void Send(const std::string& command);
    // The next line that begins with the prefix (earlier other lines are kept
    // for later); empty when none came within the time-out.
    std::string WaitFor(const std::string& prefix);
    std::string Ask(const std::string& command, const std::string& answerPrefix)
    {
        Send(command);
        return WaitFor(answerPrefix);
    }
    // SIGKILL, and waits until the process is gone.
    void Kill();

private:
    bool ReadMore();
    // The wait status of the ended process; -1 when it was reaped already.
    int Reap();

    pid_t pid_ = -1;
    platform::host::UniqueFd toPeer_;
    platform::host::UniqueFd fromPeer_;
    std::string partial_;
    std::deque<std::string> lines_;
};

}  // namespace tavrel::testing
