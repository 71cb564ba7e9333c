#include "network/socket_options.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "network/host_address.h"

namespace tavrel::network {
namespace {

using platform::host::UniqueFd;

constexpr int kSendBufferBytes = 64 * 1024;
constexpr int kBacklog = 16;

template <typename Value>
void SetOption(int socket, int level, int name, Value value)
{
    // A host that lacks one of these options serves all the same.
    (void)::setsockopt(socket, level, name, &value, sizeof value);
}

std::string ListenFailure(ListenOn where, std::uint16_t port, int error)
{
    const std::string address = where == ListenOn::Loopback ? "127.0.0.1" : "all addresses";
    std::string reason = std::strerror(error);
    if (error == EADDRINUSE) {
        reason += " (another program listens on that port)";
    } else if (error == EACCES) {
        reason += " (ports below 1024 need privileges)";
    }
    return "cannot listen on " + address + " port " + std::to_string(port) + ": " + reason;
}

// A socket of `family` bound to `address` and listening; errno tells why not.
UniqueFd BoundListener(int family, const sockaddr* address, socklen_t length)
{
    UniqueFd socket(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid()) {
        return socket;
    }
    // A restarted server may take its port back while old connections linger in TIME_WAIT.
    SetOption(socket.get(), SOL_SOCKET, SO_REUSEADDR, 1);
    if (family == AF_INET6) {
        SetOption(socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, 0);
    }
    if (::bind(socket.get(), address, length) != 0 || ::listen(socket.get(), kBacklog) != 0) {
        const int error = errno;
        socket = UniqueFd();
        errno = error;
    }
    return socket;
}

UniqueFd IPv4Listener(in_addr_t address, std::uint16_t port)
{
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    ipv4.sin_addr.s_addr = htonl(address);
    ipv4.sin_port = htons(port);
    return BoundListener(AF_INET, reinterpret_cast<const sockaddr*>(&ipv4), sizeof ipv4);
}

UniqueFd DualStackListener(std::uint16_t port)
{
    sockaddr_in6 ipv6{};
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_addr = in6addr_any;
    ipv6.sin6_port = htons(port);
    return BoundListener(AF_INET6, reinterpret_cast<const sockaddr*>(&ipv6), sizeof ipv6);
}

bool HostLacksIPv6(int error)
{
    return error == EAFNOSUPPORT || error == EADDRNOTAVAIL;
}

}  // namespace

UniqueFd ListenSocket(ListenOn where, std::uint16_t port, std::string& failure)
{
    UniqueFd socket;
    if (where == ListenOn::Loopback) {
        socket = IPv4Listener(INADDR_LOOPBACK, port);
    } else {
        socket = DualStackListener(port);
        if (!socket.valid() && HostLacksIPv6(errno)) {
            socket = IPv4Listener(INADDR_ANY, port);
        }
    }
    failure = socket.valid() ? std::string() : ListenFailure(where, port, errno);
    return socket;
}

std::uint16_t BoundPort(int socket)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return FromSocketAddress(address).port;
}

void TuneClientSocket(int socket, const ClientTimeouts& timeouts)
{
    SetOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
    SetOption(socket, SOL_SOCKET, SO_KEEPALIVE, 1);
    SetOption(socket, IPPROTO_TCP, TCP_KEEPIDLE, static_cast<int>(timeouts.keepAliveIdle.count()));
    SetOption(socket, IPPROTO_TCP, TCP_KEEPINTVL, static_cast<int>(timeouts.keepAliveInterval.count()));
    SetOption(socket, IPPROTO_TCP, TCP_KEEPCNT, timeouts.keepAliveProbes);
    SetOption(socket, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<unsigned>(timeouts.userTimeout.count()));
    SetOption(socket, SOL_SOCKET, SO_SNDBUF, kSendBufferBytes);
}

}  // namespace tavrel::network
