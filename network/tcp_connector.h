// Connecting out to a TCP server that may be down, for the parts that do:
// the TCP source that reads a server's stream and the TCP output that sends
// the relayed stream to one. The host's addresses are tried in turn, each
// within a time-out; a host name is looked up on a short-lived thread
// ("host-lookup") that its owner does not wait for when it stops, since a
// name server that does not answer may hold getaddrinfo() for many seconds.
//
// Between tries the owner waits, each wait twice the one before (1 s, 2 s,
// 4 s … 30 s), back to the first after a connection that carried data, so
// that a server that takes connections only to drop them is not hammered.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "network/socket_options.h"
#include "platform/host/unique_fd.h"
#include "platform/host/wake_signal.h"

namespace tavrel::network {

// Where to connect, and how the connection's socket is tuned.
struct TcpPeer {
    std::string host;   // an IPv4 or IPv6 address, or a host name
    std::uint16_t port = 0;
    // How long one address may take to answer a connection.
    std::chrono::milliseconds connectWait = std::chrono::seconds(10);
    ClientTimeouts timeouts;
};

// How one try went: whether the owner is stopping, whether a connection
// carried data, and else why it ended.
struct Attempt {
    bool stopping = false;
    bool delivered = false;
    std::string reason;
};

Attempt Stopping();
Attempt Failed(std::string reason);

// A host's text for `error` ("Connection refused") as it reads in the middle
// of a sentence.
std::string ErrorText(int error);

struct PeerSocket {
    platform::host::UniqueFd socket;   // non-blocking; invalid when no address answered
    std::string address;               // the server's, "192.168.4.1:10110"
};

// A socket connected to the first of the peer's addresses that answers,
// tuned by TuneClientSocket; else an invalid one, with `attempt` saying why
// or that `stop` was woken meanwhile.
PeerSocket ConnectTo(const TcpPeer& peer, const platform::host::WakeSignal& stop, Attempt& attempt);

// Calls `connect` (a try: connect, then use the connection until it ends)
// until it says the owner is stopping. After each other try `waiting` is told
// why it ended, and the owner sleeps as described above, from `firstWait` up
// to `longestWait`; returns at once when `stop` is woken.
void KeepConnecting(const platform::host::WakeSignal& stop, std::chrono::milliseconds firstWait,
                    std::chrono::milliseconds longestWait, const std::function<Attempt()>& connect,
                    const std::function<void(const std::string& reason)>& waiting);

}  // namespace tavrel::network
