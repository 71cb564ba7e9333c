#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "network/socket_options.h"
#include "network/tcp_source.h"
#include "network/udp_listener.h"
#include "network_test_support.h"
#include "platform/host/file_calls.h"
#include "testkit/loopback.h"
#include "testkit/pty_pair.h"

namespace {

using namespace std::chrono_literals;
using namespace tavrel::network;
using tavrel::network::testing::Accept;
using tavrel::network::testing::Listen;
using tavrel::network::testing::Pattern;
using tavrel::network::testing::WaitUntil;
using platform::host::UniqueFd;
using Bytes = std::vector<unsigned char>;

// What an input handed on, piece by piece, kept for the test's thread.
class Received {
public:
    BytesCallback Callback()
    {
        return [this](std::span<const unsigned char> bytes) {
            const std::lock_guard guard(lock_);
            pieces_.emplace_back(bytes.begin(), bytes.end());
        };
    }
    std::vector<Bytes> pieces() const
    {
        const std::lock_guard guard(lock_);
        return pieces_;
    }
    Bytes joined() const
    {
        Bytes all;
        for (const Bytes& piece : pieces()) {
            all.insert(all.end(), piece.begin(), piece.end());
        }
        return all;
    }

private:
    mutable std::mutex lock_;
    std::vector<Bytes> pieces_;
};

std::unique_ptr<TcpSource> StartSource(const std::string& host, std::uint16_t port, std::chrono::milliseconds wait,
                                       TcpSource::Callbacks callbacks, const std::string& greeting = {})
{
    std::string failure;
    auto source = TcpSource::Start(TcpSourceOptions{host, port, wait, wait * 5, wait, {}, greeting},
                                   std::move(callbacks), failure);
    EXPECT_TRUE(source) << failure;
    return source;
}

// Sends `datagram` to `address` (IPv4 or IPv6) and `port`; false when this host cannot.
bool SendTo(const char* address, std::uint16_t port, const Bytes& datagram)
{
    sockaddr_in ipv4{AF_INET, htons(port), {}, {}};
    sockaddr_in6 ipv6{AF_INET6, htons(port), 0, {}, 0};
    const bool isIPv4 = ::inet_pton(AF_INET, address, &ipv4.sin_addr) == 1;
    EXPECT_TRUE(isIPv4 || ::inet_pton(AF_INET6, address, &ipv6.sin6_addr) == 1) << address;
    const UniqueFd socket(::socket(isIPv4 ? AF_INET : AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const auto* to = isIPv4 ? reinterpret_cast<const sockaddr*>(&ipv4) : reinterpret_cast<const sockaddr*>(&ipv6);
    const socklen_t length = isIPv4 ? sizeof ipv4 : sizeof ipv6;
    return ::sendto(socket.get(), datagram.data(), datagram.size(), 0, to, length) == static_cast<ssize_t>(datagram.size());
}

TEST(TcpSource, ReadsEverythingInOrderAndReadsAgainWhenTheServerComesBack)
{
    UniqueFd listener = Listen();
    const std::uint16_t port = BoundPort(listener.get());
    Received received;
    std::mutex lock;
    std::set<std::string> reasons;
    const auto noteReason = [&](const TcpSourceHealth& health) {
        const std::lock_guard guard(lock);
        reasons.insert(health.reason);
    };
    // A name, looked up, whose addresses may include ::1, where nobody listens.
    // The greeting, a command for the server, is sent at each connection.
    const std::string greeting = "$PMTK220,200*2C\r\n";
    const Bytes greeted(greeting.begin(), greeting.end());
    const auto source = StartSource("localhost", port, 10ms, {received.Callback(), noteReason}, greeting);
    UniqueFd server = Accept(listener);
    EXPECT_EQ(tavrel::testing::ReadFor(server.get(), greeted.size()), greeted);
    const Bytes first = Pattern(200'000, 1);
    ASSERT_TRUE(platform::host::WriteAll(server.get(), {reinterpret_cast<const char*>(first.data()), first.size()}));
    ASSERT_TRUE(WaitUntil([&] { return received.joined().size() == first.size(); }));
    EXPECT_EQ(received.joined(), first);
    EXPECT_EQ(source->Health().address, "127.0.0.1:" + std::to_string(port));

    // Gone: the source finds the connection closed, then the port refused.
    listener = UniqueFd();
    server = UniqueFd();
    ASSERT_TRUE(WaitUntil([&] {
        const std::lock_guard guard(lock);
        return reasons.count("closed by the peer") == 1 && reasons.count("connection refused") == 1;
    }));
    listener = Listen(port);
    server = Accept(listener);
    EXPECT_EQ(tavrel::testing::ReadFor(server.get(), greeted.size()), greeted);
    const Bytes second = Pattern(3000, 2);
    ASSERT_TRUE(platform::host::WriteAll(server.get(), {reinterpret_cast<const char*>(second.data()), second.size()}));
    ASSERT_TRUE(WaitUntil([&] { return received.joined().size() == first.size() + second.size(); }));
    EXPECT_TRUE(std::equal(second.begin(), second.end(), received.joined().begin() + std::ssize(first)));
    const TcpSourceHealth health = source->Health();
    EXPECT_EQ(health.state, TcpSourceState::Connected);
    EXPECT_EQ(health.connectionsMade, 2U);
    EXPECT_EQ(health.bytesRead, first.size() + second.size());
    for (const Bytes& piece : received.pieces()) {
        EXPECT_LE(piece.size(), 4096U);
    }
}

// Waits of an hour: the test ends only when the stop cuts them short.
TEST(TcpSource, StopsAtOnceWhileWaitingAndWhileConnected)
{
    const TcpSource::Callbacks ignore{[](std::span<const unsigned char>) {}, {}};
    auto waiting = StartSource("127.0.0.1", tavrel::testing::FreeLoopbackPort(), 1h, ignore);
    ASSERT_TRUE(WaitUntil([&] { return waiting->Health().state == TcpSourceState::Waiting; }));
    EXPECT_EQ(waiting->Health().reason, "connection refused");
    waiting.reset();

    const UniqueFd listener = Listen();
    auto connected = StartSource("127.0.0.1", BoundPort(listener.get()), 1h, ignore);
    const UniqueFd server = Accept(listener);
    ASSERT_TRUE(WaitUntil([&] { return connected->Health().state == TcpSourceState::Connected; }));
    connected.reset();
    char byte = 0;
    EXPECT_EQ(::recv(server.get(), &byte, 1, 0), 0) << "the source's socket is closed";
}

TEST(UdpListener, HandsEachDatagramOnWholeOverIPv4AndIPv6)
{
    Received received;
    std::string failure;
    const auto listener = UdpListener::Start({0, ""}, received.Callback(), failure);
    ASSERT_TRUE(listener) << failure;
    std::vector<Bytes> sent{Pattern(1, 1), Pattern(1400, 2), Pattern(9000, 3)};
    for (const Bytes& datagram : sent) {
        ASSERT_TRUE(SendTo("127.0.0.1", listener->port(), datagram));
    }
    const Bytes overIPv6 = Pattern(82, 4);
    if (SendTo("::1", listener->port(), overIPv6)) {
        sent.push_back(overIPv6);
    }
    ASSERT_TRUE(WaitUntil([&] { return received.pieces().size() == sent.size(); }));
    EXPECT_EQ(received.pieces(), sent);
    EXPECT_EQ(listener->Counters().datagrams, sent.size());
    EXPECT_EQ(listener->Counters().bytes, received.joined().size());
}

// Two listeners share the group's port, as two programs listening to it do.
TEST(UdpListener, JoinsAMulticastGroupOnAPortThatOthersShare)
{
    std::string failure;
    std::string notTried;
    for (const char* group : {"239.255.77.77", "ff15::77"}) {
        Received first;
        Received second;
        const auto listener = UdpListener::Start({0, group}, first.Callback(), failure);
        if (!listener && failure.find(std::strerror(ENODEV)) != std::string::npos) {
            notTried += failure + "; ";   // the host routes no multicast of that family
            continue;
        }
        ASSERT_TRUE(listener) << failure;
        const auto sharing = UdpListener::Start({listener->port(), group}, second.Callback(), failure);
        ASSERT_TRUE(sharing) << failure;
        const Bytes datagram = Pattern(82, 5);
        ASSERT_TRUE(SendTo(group, listener->port(), datagram)) << group;
        EXPECT_TRUE(WaitUntil([&] { return !first.pieces().empty() && !second.pieces().empty(); })) << group;
        EXPECT_EQ(first.joined(), datagram);
        EXPECT_EQ(second.joined(), datagram);
    }
    if (!notTried.empty()) {
        GTEST_SKIP() << "not tried, as this host routes no multicast there: " << notTried;
    }
}

TEST(UdpListener, RefusesATakenPortOrAGroupThatIsNoMulticastAddressSayingWhy)
{
    std::string failure;
    const auto listener = UdpListener::Start({0, ""}, {}, failure);
    ASSERT_TRUE(listener) << failure;
    const std::string port = std::to_string(listener->port());
    EXPECT_FALSE(UdpListener::Start({listener->port(), ""}, {}, failure));
    EXPECT_EQ(failure, "UDP port " + port + ": " + std::strerror(EADDRINUSE));
    for (const char* group : {"10.1.2.3", "fe80::1", "no.such.group"}) {
        EXPECT_FALSE(UdpListener::Start({0, group}, {}, failure));
        EXPECT_EQ(failure.rfind("UDP port 0: \"" + std::string(group) + "\" is not a multicast group address", 0), 0U)
            << failure;
    }
}

}  // namespace
