#include "network/udp_sender.h"

#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "network/host_address.h"
#include "platform/host/interrupted_calls.h"

namespace tavrel::network {
namespace {

using platform::host::UniqueFd;

// The errors of a network that is gone for now: no route, no interface, no
// address to send from. The host may bring it back at any time.
bool NetworkGone(int error)
{
    switch (error) {
    case ENETUNREACH:
    case ENODEV:
    case ENETDOWN:
    case EHOSTUNREACH:
    case EADDRNOTAVAIL:
    case EBADF:   // the socket could not be made again last time
        return true;
    default:
        return false;
    }
}

// Sets how a group's datagrams go out: their hop limit and interface.
void SetMulticastRoute(int socket, int family, int hops, unsigned interfaceIndex)
{
    if (family == AF_INET) {
        (void)::setsockopt(socket, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops);
        ip_mreqn by{};
        by.imr_ifindex = static_cast<int>(interfaceIndex);
        (void)::setsockopt(socket, IPPROTO_IP, IP_MULTICAST_IF, &by, sizeof by);
    } else {
        (void)::setsockopt(socket, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof hops);
        (void)::setsockopt(socket, IPPROTO_IPV6, IPV6_MULTICAST_IF, &interfaceIndex, sizeof interfaceIndex);
    }
}

// A non-blocking datagram socket for `family`; on IPv4 it may send to a
// broadcast address (a person who writes one asked for it), and a group's
// datagrams go out as `hops` and `interfaceIndex` say. Invalid with errno set.
UniqueFd DatagramSocket(int family, int hops, unsigned interfaceIndex)
{
    UniqueFd socket(::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (socket.valid() && family == AF_INET) {
        const int on = 1;
        (void)::setsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
    if (socket.valid()) {
        SetMulticastRoute(socket.get(), family, hops, interfaceIndex);
    }
    return socket;
}

// The first address that `target` names, or false with `failure` set.
bool Resolve(const UdpTarget& target, sockaddr_storage& address, socklen_t& length, std::string& failure)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV | (target.numeric ? AI_NUMERICHOST : 0);
    addrinfo* found = nullptr;
    const int error = ::getaddrinfo(target.host.c_str(), std::to_string(target.port).c_str(), &hints, &found);
    if (error != 0 || found == nullptr) {
        const std::string reason = error == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(error);
        failure = "cannot find UDP target " + UdpTargetText(target) + ": " + reason;
        return false;
    }
    std::memcpy(&address, found->ai_addr, found->ai_addrlen);
    length = found->ai_addrlen;
    ::freeaddrinfo(found);
    return true;
}

}  // namespace

std::unique_ptr<UdpSender> UdpSender::Start(const UdpTarget& target, std::string& failure,
                                            const MulticastOptions& multicast)
{
    sockaddr_storage address{};
    socklen_t length = 0;
    if (!Resolve(target, address, length, failure)) {
        return nullptr;
    }
    const unsigned interfaceIndex = multicast.interface.empty() ? 0 : ::if_nametoindex(multicast.interface.c_str());
    if (!multicast.interface.empty() && interfaceIndex == 0) {
        failure = "cannot send to " + UdpTargetText(target) + " by interface " + multicast.interface + ": " +
                  std::strerror(errno);
        return nullptr;
    }
    UniqueFd socket = DatagramSocket(address.ss_family, multicast.hops, interfaceIndex);
    if (!socket.valid()) {
        failure = "cannot make a UDP socket for " + UdpTargetText(target) + ": " + std::strerror(errno);
        return nullptr;
    }
    failure.clear();
    return std::unique_ptr<UdpSender>(
        new UdpSender(address, length, std::move(socket), multicast.hops, interfaceIndex));
}

UdpSender::UdpSender(const sockaddr_storage& address, socklen_t length, UniqueFd socket, int hops,
                     unsigned interfaceIndex)
    : address_(address), addressLength_(length), addressText_(AddressText(FromSocketAddress(address))),
      hops_(hops), interfaceIndex_(interfaceIndex), socket_(std::move(socket))
{
}

void UdpSender::Send(std::span<const unsigned char> chunk)
{
    while (!chunk.empty()) {
        const std::size_t size = std::min(chunk.size(), kLargestDatagram);
        SendOne(chunk.first(size));
        chunk = chunk.subspan(size);
    }
}

// An empty chunk sends nothing: an empty datagram would tell a reader nothing.
void UdpSender::SendOne(std::span<const unsigned char> datagram)
{
    int error = SendDatagram(datagram);
    if (NetworkGone(error) && RemakeWhenDue()) {
        error = SendDatagram(datagram);
    }
    // EAGAIN, ENOBUFS and the rest: this datagram is lost; the next one is tried all the same.
    if (error == 0) {
        nextRemake_ = {};   // the network works: when it goes, the socket is made afresh at once
        datagramsSent_.fetch_add(1, std::memory_order_relaxed);
        bytesSent_.fetch_add(datagram.size(), std::memory_order_relaxed);
    } else {
        sendFailures_.fetch_add(1, std::memory_order_relaxed);
    }
}

int UdpSender::SendDatagram(std::span<const unsigned char> chunk) const
{
    if (!socket_.valid()) {
        return EBADF;
    }
    const ssize_t sent = platform::host::RetryOnInterrupt([&] {
        return ::sendto(socket_.get(), chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address_), addressLength_);
    });
    return sent >= 0 ? 0 : errno;
}

bool UdpSender::RemakeWhenDue()
{
    const auto now = Clock::now();
    if (now < nextRemake_) {
        return false;
    }
    nextRemake_ = now + kRemakeInterval;
    socketsRemade_.fetch_add(1, std::memory_order_relaxed);
    // The old socket goes even when no new one can be made: EBADF then asks again.
    socket_ = DatagramSocket(address_.ss_family, hops_, interfaceIndex_);
    return true;
}

UdpSenderCounters UdpSender::Counters() const
{
    return UdpSenderCounters{datagramsSent_.load(std::memory_order_relaxed), bytesSent_.load(std::memory_order_relaxed),
                             sendFailures_.load(std::memory_order_relaxed), socketsRemade_.load(std::memory_order_relaxed)};
}

}  // namespace tavrel::network
