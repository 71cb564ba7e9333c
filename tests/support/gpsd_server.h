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
    // When gpsd opens a device it is told of: when a client watches (its
    // default), or at once (-n, as a service that serves time does).
    enum class Opens { OnWatch, AtOnce };

    // Starts gpsd with its socket, pid file and log in `folder` (made
    // searchable by everyone), and waits until its control socket listens.
    explicit GpsdServer(const std::filesystem::path& folder, Opens opens = Opens::OnWatch);
    ~GpsdServer();
    GpsdServer(const GpsdServer&) = delete;
    GpsdServer& operator=(const GpsdServer&) = delete;

    bool running() const { return running_; }
    const std::filesystem::path& controlSocket() const { return socket_; }
    int tcpPort() const { return tcpPort_; }
    std::string Log() const;

private:
    std::filesystem::path socket_;
    std::filesystem::path log_;
    int tcpPort_ = 0;
    pid_t pid_ = -1;
    bool running_ = false;
};

// A client of gpsd that watches every device from its start on, as cgps or
// a navigation program does; gpsd goes on serving (and does not end by
// itself) while it is connected.
class GpsdWatcher {
public:
    explicit GpsdWatcher(const GpsdServer& gpsd);

    bool connected() const { return socket_ >= 0; }
    // Forgets what gpsd has reported so far.
    void Forget();
    // True once gpsd reports a position (a TPV with a fix) from `device`
    // within `timeout`.
    bool SawFixFrom(const std::string& device, std::chrono::milliseconds timeout);
    ~GpsdWatcher();
    GpsdWatcher(const GpsdWatcher&) = delete;
    GpsdWatcher& operator=(const GpsdWatcher&) = delete;

private:
    int socket_ = -1;
    std::string received_;
};

// An NMEA RMC sentence with a valid fix and checksum, line end included.
std::vector<unsigned char> FixSentence();

}  // namespace tavrel::testing
