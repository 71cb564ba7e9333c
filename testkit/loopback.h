// TCP on the loopback address, for tests and benchmarks that play a network
// client of the program.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace tavrel::testing {

// A port on 127.0.0.1 that nobody listened on a moment ago (bound with port
// 0 and let go), for a server that the test tells its port by setting.
std::uint16_t FreeLoopbackPort();

// A socket connected to 127.0.0.1:port (blocking, close-on-exec), or -1.
// `receiveBuffer` (bytes, 0 for the default) is set before connecting, so
// that the kernel holds little for a client that does not read.
int ConnectLoopback(std::uint16_t port, int receiveBuffer = 0);

// A client that reads everything it is sent, on a thread of its own, until
// its peer closes or it is destroyed. It owns the socket.
class SocketReader {
public:
    explicit SocketReader(int socket);
    ~SocketReader();
    SocketReader(const SocketReader&) = delete;
    SocketReader& operator=(const SocketReader&) = delete;

    int socket() const { return socket_; }
    std::size_t count() const { return count_; }
    std::vector<unsigned char> bytes() const;
    // Whether the peer closed the connection (or it broke).
    bool ended() const { return ended_; }

private:
    void ReadUntilEnd();

    int socket_;
    mutable std::mutex lock_;
    std::vector<unsigned char> bytes_;
    std::atomic<std::size_t> count_{0};
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

}  // namespace tavrel::testing
