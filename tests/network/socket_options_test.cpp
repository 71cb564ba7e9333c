#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "network/socket_options.h"

namespace {

using platform::host::UniqueFd;

int Option(int socket, int level, int name)
{
    int value = -1;
    socklen_t length = sizeof value;
    EXPECT_EQ(::getsockopt(socket, level, name, &value, &length), 0);
    return value;
}

// A client socket as the server holds it: the accepted end of a loopback connection.
UniqueFd AcceptedSocket(const UniqueFd& listener, UniqueFd& peer)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(tavrel::network::BoundPort(listener.get()));
    peer = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    EXPECT_EQ(::connect(peer.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    pollfd ready{listener.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&ready, 1, 20'000), 1);
    return UniqueFd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
}

TEST(SocketOptions, AClientSocketIsLetGoByTheKernelWhenItsPeerVanishes)
{
    std::string failure;
    const UniqueFd listener = tavrel::network::ListenSocket(tavrel::network::ListenOn::Loopback, 0, failure);
    ASSERT_TRUE(listener.valid()) << failure;
    EXPECT_NE(tavrel::network::BoundPort(listener.get()), 0);
    UniqueFd peer;
    const UniqueFd client = AcceptedSocket(listener, peer);
    ASSERT_TRUE(client.valid());

    tavrel::network::TuneClientSocket(client.get());
    EXPECT_EQ(Option(client.get(), IPPROTO_TCP, TCP_NODELAY), 1);
    EXPECT_EQ(Option(client.get(), SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(Option(client.get(), IPPROTO_TCP, TCP_KEEPIDLE), 30);    // seconds
    EXPECT_EQ(Option(client.get(), IPPROTO_TCP, TCP_KEEPINTVL), 10);   // seconds
    EXPECT_EQ(Option(client.get(), IPPROTO_TCP, TCP_KEEPCNT), 3);
    EXPECT_EQ(Option(client.get(), IPPROTO_TCP, TCP_USER_TIMEOUT), 60'000);   // milliseconds

    using namespace std::chrono_literals;
    tavrel::network::TuneClientSocket(client.get(), {5s, 2s, 4, 7500ms});
    EXPECT_EQ(Option(client.get(), IPPROTO_TCP, TCP_KEEPIDLE), 5);
    EXPECT_EQ(Option(client.get(), IPPROTO_TCP, TCP_KEEPINTVL), 2);
    EXPECT_EQ(Option(client.get(), IPPROTO_TCP, TCP_KEEPCNT), 4);
    EXPECT_EQ(Option(client.get(), IPPROTO_TCP, TCP_USER_TIMEOUT), 7500);
}

TEST(SocketOptions, OnEveryAddressOneSocketTakesIPv4AndIPv6Peers)
{
    std::string failure;
    const UniqueFd listener = tavrel::network::ListenSocket(tavrel::network::ListenOn::AnyAddress, 0, failure);
    ASSERT_TRUE(listener.valid()) << failure;
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&bound), &length), 0);
    if (bound.ss_family == AF_INET6) {
        EXPECT_EQ(Option(listener.get(), IPPROTO_IPV6, IPV6_V6ONLY), 0);
    } else {
        EXPECT_EQ(bound.ss_family, AF_INET) << "a host without IPv6 listens on IPv4";
    }
    UniqueFd peer;
    EXPECT_TRUE(AcceptedSocket(listener, peer).valid());
}

}  // namespace
