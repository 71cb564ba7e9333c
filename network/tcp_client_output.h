// Sends the relayed stream to a TCP server elsewhere: an aggregator, a chart
// plotter's server, a Signal K server, gpsd listening for a feed. It connects
// out, and when the server cannot be reached or the connection ends, waits
// and tries again, as the TCP source does (see network/tcp_connector.h).
//
// The stream is live: while no connection stands, chunks are not kept, so a
// server that comes back gets the stream from then on, not stale minutes.
// While connected, chunks wait in a bounded queue of the connection's own; a
// server that does not read loses the oldest whole chunks, never a piece of
// one, and never makes the relay wait. A chunk that a lost connection cut
// off is not sent again on the next one.
//
// The output runs on a thread of its own ("tcp-output") that sleeps in poll()
// on its socket, on a signal that a chunk was delivered, and on a stop
// signal, so that it stops at once whatever it is doing.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "network/client_queue.h"
#include "network/socket_options.h"

namespace tavrel::network {

struct TcpClientOutputOptions {
    std::string host;   // an IPv4 or IPv6 address, or a host name
    std::uint16_t port = 0;
    // The wait before the second try, and the longest wait between tries.
    std::chrono::milliseconds firstWait = std::chrono::seconds(1);
    std::chrono::milliseconds longestWait = std::chrono::seconds(30);
    // How long one address may take to answer a connection.
    std::chrono::milliseconds connectWait = std::chrono::seconds(10);
    // When a server that vanished without a word (Wi-Fi gone) is given up.
    ClientTimeouts timeouts;
    // The most bytes that wait for a connected server.
    std::size_t queueBound = ClientQueue::kDefaultBound;
};

struct TcpClientOutputHealth {
    bool connected = false;
    std::string address;   // while connected: the server's, "192.168.1.5:10110"
    std::string reason;    // while not: why the last try ended, "connection refused"
    std::uint64_t bytesSent = 0;
    std::uint64_t bytesDropped = 0;   // dropped from a connected server's full queue
    std::uint64_t connectionsMade = 0;
};

class TcpClientOutput {
public:
    // An output that sends to `options.host` as described above; nothing,
    // with `failure` saying why, only when the host gives no thread or no
    // descriptor for its signals.
    static std::unique_ptr<TcpClientOutput> Start(const TcpClientOutputOptions& options, std::string& failure);
    // Closes the connection and ends the thread, at once.
    ~TcpClientOutput();
    TcpClientOutput(const TcpClientOutput&) = delete;
    TcpClientOutput& operator=(const TcpClientOutput&) = delete;

    // Queues `chunk` for the connected server, or lets it go while none is;
    // never waits on the network. Called by the relay's thread.
    void Deliver(std::span<const unsigned char> chunk);

    // Safe from any thread.
    TcpClientOutputHealth Health() const;

private:
    struct State;
    explicit TcpClientOutput(std::unique_ptr<State> state);

    std::unique_ptr<State> state_;
};

}  // namespace tavrel::network
