#include "bench/merge_feeds.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>

namespace tavrel::bench {
namespace {

using platform::host::UniqueFd;

sockaddr_in Address(std::uint32_t host, std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(host);
    return address;
}

// Binds `socket` to host:port (0: any free port); the port bound, 0 when it cannot be.
std::uint16_t Bind(const UniqueFd& socket, std::uint32_t host, std::uint16_t port)
{
    sockaddr_in address = Address(host, port);
    socklen_t length = sizeof address;
    if (!socket.valid() || ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

// A relay that hangs up must not end the benchmark with SIGPIPE.
ssize_t SendWithoutSignal(int fd, const unsigned char* bytes, std::size_t size)
{
    return ::send(fd, bytes, size, MSG_NOSIGNAL);
}

}  // namespace

std::size_t PtyFeed::Write(std::span<const unsigned char> sentence, Clock::time_point deadline)
{
    return line_.Write(sentence, deadline);
}

UdpFeed::UdpFeed(std::uint16_t port) : port_(port), socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    if (!socket_.valid()) {
        throw std::runtime_error("cannot open a UDP socket");
    }
}

std::size_t UdpFeed::Write(std::span<const unsigned char> sentence, Clock::time_point)
{
    const sockaddr_in to = Address(INADDR_LOOPBACK, port_);
    const ssize_t sent = ::sendto(socket_.get(), sentence.data(), sentence.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent > 0 ? static_cast<std::size_t>(sent) : 0;
}

TcpFeed::TcpFeed() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0))
{
    port_ = Bind(listener_, INADDR_LOOPBACK, 0);
    if (port_ == 0 || ::listen(listener_.get(), 4) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1 for a feed");
    }
}

bool TcpFeed::Connected()
{
    if (!client_.valid()) {
        client_ = UniqueFd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        const int on = 1;
        if (client_.valid()) {
            ::setsockopt(client_.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        }
    }
    return client_.valid();
}

std::size_t TcpFeed::Write(std::span<const unsigned char> sentence, Clock::time_point deadline)
{
    return Connected() ? WriteWithin(client_.get(), sentence, deadline, SendWithoutSignal) : 0;
}

std::uint16_t FreeUdpPort()
{
    const UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    return Bind(socket, INADDR_ANY, 0);
}

}  // namespace tavrel::bench
