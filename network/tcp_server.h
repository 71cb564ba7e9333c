// Serves the relayed stream over TCP: every chunk the relay reads goes to
// every connected client, byte for byte. Each client has a bounded queue of
// its own; one that does not read loses its oldest chunks and, when it stays
// behind, is disconnected, so that no client ever slows the relay or another
// client. What clients send is thrown away, unless the server lets them talk:
// then what a client that may talk sends is handed to the owner.
//
// The server runs on a thread of its own ("tcp-server"), sleeping in epoll
// until a client, a connection or a delivered chunk needs it, with a
// time-out only while a client is behind: an idle server makes no wake-ups.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "network/address_allow_list.h"
#include "network/client_queue.h"
#include "network/socket_options.h"

namespace tavrel::network {

struct TcpServerOptions {
    std::uint16_t port = 10110;   // 0: a port that the kernel chooses
    ListenOn listenOn = ListenOn::Loopback;
    AddressAllowList allow;       // consulted for every connection
    std::size_t maxClients = 16;
    std::size_t queueBound = ClientQueue::kDefaultBound;
    // How long a client may stay behind (losing chunks) before it is cut off.
    std::chrono::milliseconds fullClientKept = std::chrono::seconds(30);
    // When a client that no longer answers (its peer vanished without a word) is let go.
    ClientTimeouts clientTimeouts;
    // Called on the server's thread with what a client that may talk sent
    // (no bytes: it left). A client may talk when it is on the allow list,
    // or, while the list lets anyone in, when it connects from this machine.
    // Empty: no client talks.
    std::function<void(std::uint64_t client, std::span<const unsigned char> bytes)> talk;
};

struct ClientHealth {
    std::string address;   // "192.168.1.5:40112"
    std::chrono::system_clock::time_point connectedSince;
    std::uint64_t bytesSent = 0;
    std::uint64_t bytesDropped = 0;
};

struct TcpServerHealth {
    std::vector<ClientHealth> clients;   // in the order they connected
    std::uint64_t clientsRefused = 0;    // over the limit, or not on the allow list
    std::uint64_t clientsCutOff = 0;     // stayed behind too long
};

class TcpServer {
public:
    // A server listening as `options` say, or nothing with `failure` saying
    // why (naming the address and the port).
    static std::unique_ptr<TcpServer> Start(const TcpServerOptions& options, std::string& failure);
    // Closes every connection and the listening socket; returns once the
    // server's thread has ended.
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // The port listened on.
    std::uint16_t port() const;

    // Queues `bytes` for every client and wakes the server's thread. Takes a
    // short lock; never waits on a socket or a client.
    void Deliver(std::span<const unsigned char> bytes);

    TcpServerHealth Health() const;

private:
    struct State;
    explicit TcpServer(std::unique_ptr<State> state);

    std::unique_ptr<State> state_;
};

}  // namespace tavrel::network
