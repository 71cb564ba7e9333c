#include "network/udp_listener.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "network/socket_options.h"
#include "platform/host/interrupted_calls.h"

namespace tavrel::network {
namespace {

using platform::host::UniqueFd;

// More than the largest UDP datagram carries, so that none is cut short.
constexpr std::size_t kDatagramBytes = 64 * 1024;

template <typename Value>
bool SetOption(int socket, int level, int name, Value value)
{
    return ::setsockopt(socket, level, name, &value, sizeof value) == 0;
}

// A multicast group, and the interface that an IPv6 zone names (0: the one
// that the host routes the group through).
struct Group {
    int family = AF_UNSPEC;
    in_addr ipv4{};
    in6_addr ipv6{};
    unsigned interface = 0;

    bool multicast() const
    {
        return family == AF_INET ? (ntohl(ipv4.s_addr) >> 28) == 0xe   // 224.0.0.0/4
                                 : ipv6.s6_addr[0] == 0xff;            // ff00::/8
    }
};

// The group that `text` writes, or nothing when it is no multicast address.
std::optional<Group> ParseGroup(const std::string& text)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (::getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0) {
        return std::nullopt;
    }
    Group group;
    group.family = found->ai_family;
    if (group.family == AF_INET) {
        sockaddr_in ipv4{};
        std::memcpy(&ipv4, found->ai_addr, sizeof ipv4);
        group.ipv4 = ipv4.sin_addr;
    } else {
        sockaddr_in6 ipv6{};
        std::memcpy(&ipv6, found->ai_addr, sizeof ipv6);
        group.ipv6 = ipv6.sin6_addr;
        group.interface = ipv6.sin6_scope_id;
    }
    ::freeaddrinfo(found);
    return group.multicast() ? std::optional(group) : std::nullopt;
}

bool Bind(int socket, int family, std::uint16_t port)
{
    if (family == AF_INET6) {
        sockaddr_in6 ipv6{};
        ipv6.sin6_family = AF_INET6;
        ipv6.sin6_addr = in6addr_any;
        ipv6.sin6_port = htons(port);
        return ::bind(socket, reinterpret_cast<const sockaddr*>(&ipv6), sizeof ipv6) == 0;
    }
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    ipv4.sin_addr.s_addr = htonl(INADDR_ANY);
    ipv4.sin_port = htons(port);
    return ::bind(socket, reinterpret_cast<const sockaddr*>(&ipv4), sizeof ipv4) == 0;
}

// A socket of `family` bound to every address and `port`, taking IPv4 too
// when it is IPv6; invalid with errno set. A `shared` port may be bound by
// other programs as well, as listeners to one multicast group do.
UniqueFd BoundSocket(int family, std::uint16_t port, bool shared)
{
    UniqueFd socket(::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid()) {
        return socket;
    }
    if (family == AF_INET6) {
        SetOption(socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, 0);
    }
    if ((shared && !SetOption(socket.get(), SOL_SOCKET, SO_REUSEADDR, 1)) || !Bind(socket.get(), family, port)) {
        const int error = errno;
        socket = UniqueFd();
        errno = error;
    }
    return socket;
}

// Joins `group` on the socket; errno tells why not. Only datagrams to the
// group (or to the port itself) arrive then, not those of other groups that
// other programs joined on the same port.
bool Join(int socket, const Group& group)
{
    if (group.family == AF_INET) {
        ip_mreqn request{};
        request.imr_multiaddr = group.ipv4;
        return SetOption(socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, request) &&
               SetOption(socket, IPPROTO_IP, IP_MULTICAST_ALL, 0);
    }
    return SetOption(socket, IPPROTO_IPV6, IPV6_JOIN_GROUP, ipv6_mreq{group.ipv6, group.interface}) &&
           SetOption(socket, IPPROTO_IPV6, IPV6_MULTICAST_ALL, 0);
}

// The socket to listen on, or an invalid one with `problem` saying why.
UniqueFd ListeningSocket(const UdpListenerOptions& options, std::string& problem)
{
    if (options.group.empty()) {
        UniqueFd socket = BoundSocket(AF_INET6, options.port, false);
        if (!socket.valid() && (errno == EAFNOSUPPORT || errno == EADDRNOTAVAIL)) {
            socket = BoundSocket(AF_INET, options.port, false);   // a host without IPv6
        }
        problem = socket.valid() ? std::string() : std::strerror(errno);
        return socket;
    }
    const std::optional<Group> group = ParseGroup(options.group);
    if (!group) {
        problem = "\"" + options.group + "\" is not a multicast group address (224.0.0.0 to 239.255.255.255, or ff00::/8)";
        return UniqueFd();
    }
    UniqueFd socket = BoundSocket(group->family, options.port, true);
    if (!socket.valid()) {
        problem = std::strerror(errno);
    } else if (!Join(socket.get(), *group)) {
        problem = "cannot join multicast group " + options.group + ": " + std::strerror(errno);
        if (errno == ENODEV) {
            problem += " (no network interface routes multicast)";
        }
        socket = UniqueFd();
    }
    return socket;
}

}  // namespace

struct UdpListener::State {
    UniqueFd socket;
    std::uint16_t port = 0;
    BytesCallback callback;
    std::vector<unsigned char> datagram = std::vector<unsigned char>(kDatagramBytes);
    std::atomic<std::uint64_t> datagrams{0};
    std::atomic<std::uint64_t> bytes{0};

    InputThread worker;   // last: its thread uses everything above

    void Run();
};

void UdpListener::State::Run()
{
    while (SleepUntil(worker.stop(), socket.get(), POLLIN, kNoTimeout) == Woken::Ready) {
        const ssize_t got = platform::host::RetryOnInterrupt(
            [&] { return ::recv(socket.get(), datagram.data(), datagram.size(), MSG_DONTWAIT); });
        if (got < 0) {
            continue;   // nothing after all (EAGAIN), or an error of a datagram that is gone
        }
        datagrams.fetch_add(1, std::memory_order_relaxed);
        bytes.fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
        if (got > 0) {   // an empty datagram carries nothing to hand on
            callback(std::span<const unsigned char>(datagram.data(), static_cast<std::size_t>(got)));
        }
    }
}

std::unique_ptr<UdpListener> UdpListener::Start(const UdpListenerOptions& options, BytesCallback callback,
                                                std::string& failure)
{
    auto state = std::make_unique<State>();
    std::string problem;
    state->socket = ListeningSocket(options, problem);
    if (!state->socket.valid()) {
        failure = "UDP port " + std::to_string(options.port) + ": " + problem;
        return nullptr;
    }
    state->port = BoundPort(state->socket.get());
    state->callback = std::move(callback);
    State* running = state.get();
    if (!state->worker.Start("udp-listener", [running] { running->Run(); }, failure)) {
        return nullptr;
    }
    failure.clear();
    return std::unique_ptr<UdpListener>(new UdpListener(std::move(state)));
}

UdpListener::UdpListener(std::unique_ptr<State> state) : state_(std::move(state)) {}

UdpListener::~UdpListener() = default;

std::uint16_t UdpListener::port() const
{
    return state_->port;
}

UdpListenerCounters UdpListener::Counters() const
{
    return UdpListenerCounters{state_->datagrams.load(std::memory_order_relaxed),
                               state_->bytes.load(std::memory_order_relaxed)};
}

}  // namespace tavrel::network
