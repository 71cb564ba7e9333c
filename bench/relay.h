// A relay under measurement: real processes that copy one input
// pseudo-terminal to output pseudo-terminals, each of which a consumer opens
// through a link, or to the clients of a TCP server on the loopback address.
// Set-up happens when the relay is made; Launch only starts its processes, so
// that the time from exec can be measured around it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tavrel::bench {

// How long a relay may take to end after SIGTERM before it is killed.
inline constexpr std::chrono::seconds kExitGrace{30};

// What a relay left behind when it ended.
struct ExitOutcome {
    std::string words;   // "exit 1, settings kept, links removed"
    bool asRequired = false;   // saved what it must save and removed its links
};

class Relay {
public:
    virtual ~Relay() = default;

    virtual std::string name() const = 0;
    // Starts the processes; returns when each has been exec'd.
    virtual void Launch() = 0;
    // Every process of the relay, for the figures read from /proc.
    virtual std::vector<pid_t> processes() const = 0;
    // Sends SIGTERM and returns when every process has been reaped (killed
    // after kExitGrace).
    virtual void Terminate() = 0;
    // After Terminate.
    virtual ExitOutcome Outcome() const = 0;
    // A log of the processes' output, for when something goes wrong.
    virtual std::filesystem::path log() const = 0;

    const std::vector<std::filesystem::path>& outputLinks() const { return outputLinks_; }
    // The port on 127.0.0.1 where a relay that serves TCP clients listens; 0 for none.
    std::uint16_t tcpPort() const { return tcpPort_; }

protected:
    // Whether every output link is gone, in words: "links removed" or "links left: COM2 COM3".
    ExitOutcome LinksLeft() const;

    std::vector<std::filesystem::path> outputLinks_;
    std::uint16_t tcpPort_ = 0;
};

}  // namespace tavrel::bench
