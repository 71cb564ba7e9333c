// Reads the stream that a TCP server elsewhere sends: a Wi-Fi NMEA gateway,
// an AIS receiver's program, another relay's TCP output. It connects, hands
// every chunk it reads to its owner, and when the server cannot be reached
// or the connection ends, waits and tries again: a host that is down is
// waited for, never a reason to give up. Each wait is twice the one before
// (1 s, 2 s, 4 s … 30 s), back to the first after a connection that
// brought data, so that a server that takes connections only to drop them
// is not hammered.
//
// The source runs on a thread of its own ("tcp-source") that sleeps in poll()
// on its socket and on a wake signal, so that it stops at once whatever it
// is doing. A host name is looked up on a short-lived thread ("host-lookup")
// that the source does not wait for when it stops.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "network/input_thread.h"
#include "network/socket_options.h"

namespace tavrel::network {

struct TcpSourceOptions {
    std::string host;              // an IPv4 or IPv6 address, or a host name
    std::uint16_t port = 10110;
    // The wait before the second try, and the longest wait between tries.
    std::chrono::milliseconds firstWait = std::chrono::seconds(1);
    std::chrono::milliseconds longestWait = std::chrono::seconds(30);
    // How long one address may take to answer a connection.
    std::chrono::milliseconds connectWait = std::chrono::seconds(10);
    // When a server that vanished without a word (Wi-Fi gone) is given up.
    ClientTimeouts timeouts;
    // Sent to the server at each connection (a command that starts its
    // stream, or sets it up); empty for nothing.
    std::string greeting;
};

enum class TcpSourceState { Connecting, Connected, Waiting };

struct TcpSourceHealth {
    TcpSourceState state = TcpSourceState::Connecting;
    std::string address;   // while Connected: the server's, "192.168.4.1:10110"
    std::string reason;    // while Waiting: why the last try ended, "connection refused"
    std::uint64_t bytesRead = 0;
    std::uint64_t connectionsMade = 0;
};

class TcpSource {
public:
    struct Callbacks {
        BytesCallback bytes;   // every chunk read
        // The state changed (counters alone do not call it); may be empty.
        std::function<void(const TcpSourceHealth&)> changed;
    };

    // A source that reads `options.host` as described above, calling
    // `callbacks` on its own thread; nothing, with `failure` saying why,
    // only when the host gives no thread.
    static std::unique_ptr<TcpSource> Start(const TcpSourceOptions& options, Callbacks callbacks, std::string& failure);
    // Returns once the source's thread has ended: at once, unless a callback
    // is running, which it waits for.
    ~TcpSource();
    TcpSource(const TcpSource&) = delete;
    TcpSource& operator=(const TcpSource&) = delete;

    // Safe from any thread.
    TcpSourceHealth Health() const;

    // Sends `bytes` to the server now, without waiting: false when not
    // connected, or when the socket's buffer could not take them all (what
    // it took goes). Safe from any thread.
    bool Send(std::span<const unsigned char> bytes);
    bool Connected() const;

private:
    struct State;
    explicit TcpSource(std::unique_ptr<State> state);

    std::unique_ptr<State> state_;
};

}  // namespace tavrel::network
