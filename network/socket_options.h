// How the server's sockets are made and tuned: the listening socket on the
// loopback address or on every address, and each client's socket, tuned so
// that a client that vanishes without a word is let go by the kernel
// itself, without any tuning of the host.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/host/unique_fd.h"

namespace tavrel::network {

enum class ListenOn { Loopback, AnyAddress };

// The listening socket, non-blocking, or an invalid descriptor with
// `failure` naming the address, the port and the reason. On every address,
// one IPv6 socket takes IPv4 peers too; a host without IPv6 gets IPv4 only.
platform::host::UniqueFd ListenSocket(ListenOn where, std::uint16_t port, std::string& failure);

// The port that a listening socket is bound to (the one the kernel chose for port 0).
std::uint16_t BoundPort(int socket);

// When the kernel gives up on a client that no longer answers. An idle
// connection is probed after `keepAliveIdle` of silence, every
// `keepAliveInterval`, and dropped after `keepAliveProbes` unanswered
// probes; data left unacknowledged for `userTimeout` drops it too (zero:
// the host's own, far longer, retries).
struct ClientTimeouts {
    std::chrono::seconds keepAliveIdle{30};
    std::chrono::seconds keepAliveInterval{10};
    int keepAliveProbes = 3;
    std::chrono::milliseconds userTimeout{60'000};
};

// A client's socket: no delay for small writes; keepalive and the user
// time-out as `timeouts` say; a small send buffer, so that a client that
// stops reading shows in its queue soon instead of after megabytes held by
// the kernel.
void TuneClientSocket(int socket, const ClientTimeouts& timeouts = {});

}  // namespace tavrel::network
