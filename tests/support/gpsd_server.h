// gpsd from Debian's package, run for one test: in the foreground, with a
// control socket and a TCP port of its own and no device, as a service that
// is told of devices through its control socket. Started as root, gpsd drops
// to its own user (gpsd, group dialout), so what it is to open must be
// reachable by that user.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace tavrel::testing {

class GpsdServer {
public:
    // Starts gpsd with its socket, pid file and log in `folder` (made
    // searchable by everyone), and waits until its control socket exists.
    explicit GpsdServer(const std::filesystem::path& folder);
    ~GpsdServer();
    GpsdServer(const GpsdServer&) = delete;
    GpsdServer& operator=(const GpsdServer&) = delete;

    bool running() const { return running_; }
    const std::filesystem::path& controlSocket() const { return socket_; }
    std::string Log() const;

    // Connects as a client that watches, as cgps would; true once gpsd
    // reported a position (a TPV with a fix) from `device` within `timeout`.
    bool SawFixFrom(const std::string& device, std::chrono::milliseconds timeout) const;

private:
    std::filesystem::path socket_;
    std::filesystem::path log_;
    int tcpPort_ = 0;
    pid_t pid_ = -1;
    bool running_ = false;
};

// An NMEA RMC sentence with a valid fix and checksum, line end included.
std::vector<unsigned char> FixSentence();

}  // namespace tavrel::testing
