#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <optional>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "network/host_address.h"
#include "network/udp_sender.h"
#include "network_test_support.h"
#include "platform/host/unique_fd.h"
#include "testkit/network_namespace.h"

namespace {

using namespace std::chrono_literals;
using tavrel::network::UdpSender;
using tavrel::network::testing::WaitUntil;
using platform::host::UniqueFd;
using Bytes = std::vector<unsigned char>;

// A socket that receives datagrams on `address` (IPv4 or IPv6, a port the
// kernel chooses); invalid where the host lacks that family.
class Receiver {
public:
    explicit Receiver(const char* address = "127.0.0.1")
    {
        sockaddr_storage bound{};
        socklen_t length = 0;
        auto* ipv4 = reinterpret_cast<sockaddr_in*>(&bound);
        auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&bound);
        if (::inet_pton(AF_INET, address, &ipv4->sin_addr) == 1) {
            ipv4->sin_family = AF_INET;
            length = sizeof *ipv4;
        } else if (::inet_pton(AF_INET6, address, &ipv6->sin6_addr) == 1) {
            ipv6->sin6_family = AF_INET6;
            length = sizeof *ipv6;
        }
        socket_ = UniqueFd(::socket(bound.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&bound), length) != 0) {
            socket_ = UniqueFd();
            return;
        }
        ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&bound), &length);
        port_ = tavrel::network::FromSocketAddress(bound).port;
    }

    bool valid() const { return socket_.valid(); }
    std::uint16_t port() const { return port_; }

    // The next datagram, empty when none comes within `patience`; `from` is the sender's port.
    Bytes Next(std::chrono::milliseconds patience = 20s, std::uint16_t* from = nullptr) const
    {
        pollfd ready{socket_.get(), POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(patience.count())) != 1) {
            return {};
        }
        Bytes datagram(128 * 1024);
        sockaddr_storage sender{};
        socklen_t length = sizeof sender;
        const ssize_t got = ::recvfrom(socket_.get(), datagram.data(), datagram.size(), MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&sender), &length);
        datagram.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        if (from != nullptr) {
            *from = tavrel::network::FromSocketAddress(sender).port;
        }
        return datagram;
    }

private:
    UniqueFd socket_;
    std::uint16_t port_ = 0;
};

std::unique_ptr<UdpSender> StartedTo(const std::string& text)
{
    std::string failure;
    const auto target = tavrel::network::ParseUdpTarget(text, failure);
    EXPECT_TRUE(target) << failure;
    if (!target) {
        return nullptr;
    }
    auto sender = UdpSender::Start(*target, failure);
    EXPECT_TRUE(sender) << failure;
    return sender;
}

Bytes Chunk(std::size_t size, unsigned char seed)
{
    Bytes chunk(size);
    for (std::size_t i = 0; i < size; ++i) {
        chunk[i] = static_cast<unsigned char>(seed + i * 7);
    }
    return chunk;
}

TEST(UdpSender, SendsEveryChunkThatFitsAFrameAsOneDatagramAndCountsWhatItSent)
{
    const Receiver receiver;
    const auto sender = StartedTo("127.0.0.1:" + std::to_string(receiver.port()));
    ASSERT_TRUE(sender);
    EXPECT_EQ(sender->address(), "127.0.0.1:" + std::to_string(receiver.port()));

    // Another thread watches the counters while the chunks go out.
    std::atomic<bool> counted{false};
    std::thread watcher([&] { counted = WaitUntil([&] { return sender->Counters().datagramsSent == 40; }); });
    std::uint64_t received = 0;
    for (std::size_t i = 0; i < 40; ++i) {
        const Bytes chunk = Chunk(1 + i * 37, static_cast<unsigned char>(i));   // up to 1444 bytes
        sender->Send(chunk);
        const Bytes datagram = receiver.Next();
        EXPECT_EQ(datagram, chunk) << "chunk " << i;
        received += datagram.size();
    }
    watcher.join();
    EXPECT_TRUE(counted);
    const auto counters = sender->Counters();
    EXPECT_EQ(counters.datagramsSent, 40U);
    EXPECT_EQ(counters.bytesSent, received);
    EXPECT_EQ(counters.sendFailures, 0U);
    EXPECT_EQ(counters.socketsRemade, 0U);
}

TEST(UdpSender, ALargerChunkGoesOutAsFrameSizedDatagramsInOrder)
{
    const Receiver receiver;
    const auto sender = StartedTo("127.0.0.1:" + std::to_string(receiver.port()));
    ASSERT_TRUE(sender);
    constexpr std::size_t largest = UdpSender::kLargestDatagram;
    // More than one datagram could ever hold (64 KiB): sent whole all the same.
    const Bytes chunk = Chunk(70'000, 9);
    sender->Send(chunk);
    Bytes joined;
    std::uint64_t datagrams = 0;
    while (joined.size() < chunk.size()) {
        const Bytes datagram = receiver.Next();
        ASSERT_FALSE(datagram.empty()) << "after " << joined.size() << " bytes";
        EXPECT_EQ(datagram.size(), std::min(largest, chunk.size() - joined.size()));
        joined.insert(joined.end(), datagram.begin(), datagram.end());
        ++datagrams;
    }
    EXPECT_EQ(joined, chunk);
    const auto counters = sender->Counters();
    EXPECT_EQ(counters.datagramsSent, datagrams);
    EXPECT_EQ(counters.bytesSent, chunk.size());
    EXPECT_EQ(counters.sendFailures, 0U);
}

TEST(UdpSender, SendsToAnIPv6Address)
{
    const Receiver receiver("::1");
    if (!receiver.valid()) {
        GTEST_SKIP() << "this host has no IPv6 loopback address";
    }
    const auto sender = StartedTo("[::1]:" + std::to_string(receiver.port()));
    ASSERT_TRUE(sender);
    EXPECT_EQ(sender->address(), "[::1]:" + std::to_string(receiver.port()));
    const Bytes chunk = Chunk(82, 7);
    sender->Send({});   // nothing to send: no datagram, so the chunk's comes first
    sender->Send(chunk);
    EXPECT_EQ(receiver.Next(), chunk);
    EXPECT_EQ(sender->Counters().datagramsSent, 1U);
}

TEST(UdpSender, ATargetThatCannotBeFoundIsRefusedNamingIt)
{
    std::string failure;
    const auto target = tavrel::network::ParseUdpTarget("[fe80::1%nosuchif0]:10110", failure);
    ASSERT_TRUE(target) << failure;
    EXPECT_FALSE(UdpSender::Start(*target, failure));
    EXPECT_EQ(failure.rfind("cannot find UDP target [fe80::1%nosuchif0]:10110: ", 0), 0U) << failure;
}

TEST(UdpSender, FindsAHostByName)
{
    const Receiver receiver;
    // localhost may name ::1 first; a name that the host resolves to 127.0.0.1 alone is needed here.
    const auto sender = StartedTo("localhost:" + std::to_string(receiver.port()));
    ASSERT_TRUE(sender);
    if (sender->address() != "127.0.0.1:" + std::to_string(receiver.port())) {
        GTEST_SKIP() << "localhost names " << sender->address() << " here";
    }
    const Bytes chunk = Chunk(82, 1);
    sender->Send(chunk);
    EXPECT_EQ(receiver.Next(), chunk);
}

TEST(UdpSender, SendsToABroadcastAddress)
{
    // 127.255.255.255 is the loopback network's broadcast address: a
    // socket not allowed to broadcast is refused there (EACCES).
    const Receiver receiver("127.255.255.255");
    sockaddr_in broadcast{};
    broadcast.sin_family = AF_INET;
    broadcast.sin_port = htons(receiver.port());
    ::inet_pton(AF_INET, "127.255.255.255", &broadcast.sin_addr);
    const UniqueFd plain(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const char byte = 'x';
    ASSERT_LT(::sendto(plain.get(), &byte, 1, 0, reinterpret_cast<const sockaddr*>(&broadcast), sizeof broadcast), 0);
    ASSERT_EQ(errno, EACCES);

    const auto sender = StartedTo("127.255.255.255:" + std::to_string(receiver.port()));
    ASSERT_TRUE(sender);
    const Bytes chunk = Chunk(82, 3);
    sender->Send(chunk);
    EXPECT_EQ(receiver.Next(), chunk);
    EXPECT_EQ(sender->Counters().sendFailures, 0U);
}

// In a network namespace of its own, the target's address comes and goes
// as an address on `lo` does: while it is away, sending finds no route
// (ENETUNREACH), as when a Wi-Fi network is left.
TEST(UdpSender, GoesOnWhenTheNetworkGoesAwayAndComesBack)
{
    tavrel::network::testing::RunInOwnNetworkNamespace([] {
        using tavrel::testing::AddIPv4Address;
        using tavrel::testing::RemoveIPv4Address;
        const Receiver receiver("0.0.0.0");
        const auto sender = StartedTo("10.9.8.7:" + std::to_string(receiver.port()));
        ASSERT_TRUE(sender);
        const auto sendWhileAway = [&] {
            const auto away = UdpSender::Clock::now();
            const auto before = sender->Counters();
            for (int i = 0; i < 1000; ++i) {
                sender->Send(Chunk(82, 5));
            }
            const auto after = sender->Counters();
            EXPECT_EQ(after.sendFailures - before.sendFailures, 1000U);
            EXPECT_EQ(after.datagramsSent, before.datagramsSent);
            // Made afresh at the first failure, then at most once a second: not for every chunk.
            const auto remade = after.socketsRemade - before.socketsRemade;
            EXPECT_GE(remade, 1U);
            EXPECT_LE(remade, 1 + static_cast<std::uint64_t>((UdpSender::Clock::now() - away) / UdpSender::kRemakeInterval));
        };
        // Sends `chunk` until it arrives; the port of the socket that sent it.
        const auto sendUntilItArrives = [&](const Bytes& chunk) {
            std::uint16_t from = 0;
            Bytes got;
            // Copies sent while an earlier one was on its way are passed over.
            EXPECT_TRUE(WaitUntil([&] {
                sender->Send(chunk);
                got = receiver.Next(10ms, &from);
                while (!got.empty() && got != chunk) {
                    got = receiver.Next(10ms, &from);
                }
                return got == chunk;
            }));
            return from;
        };

        sendWhileAway();   // not there yet when the sender starts
        ASSERT_TRUE(AddIPv4Address("lo:1", "10.9.8.7")) << std::strerror(errno);
        const std::uint16_t firstSocket = sendUntilItArrives(Chunk(82, 4));
        ASSERT_TRUE(RemoveIPv4Address("lo:1")) << std::strerror(errno);
        sendWhileAway();
        ASSERT_TRUE(AddIPv4Address("lo:1", "10.9.8.7")) << std::strerror(errno);
        EXPECT_NE(sendUntilItArrives(Chunk(82, 6)), firstSocket) << "sent from the socket made afresh";
        const auto counters = sender->Counters();
        EXPECT_EQ(counters.sendFailures, 2000U);
        EXPECT_GE(counters.socketsRemade, 2U);
    });
}

}  // namespace

namespace {

// A socket bound to `port` and joined to `group` on the loopback interface,
// that reports each datagram's TTL.
UniqueFd JoinedOnLoopback(const char* group, std::uint16_t& port)
{
    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    socklen_t length = sizeof bound;
    ip_mreqn join{};
    ::inet_pton(AF_INET, group, &join.imr_multiaddr);
    join.imr_ifindex = static_cast<int>(::if_nametoindex("lo"));
    const int on = 1;
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0 ||
        ::setsockopt(socket.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0 ||
        ::setsockopt(socket.get(), IPPROTO_IP, IP_RECVTTL, &on, sizeof on) != 0) {
        return UniqueFd();
    }
    ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&bound), &length);
    port = ntohs(bound.sin_port);
    return socket;
}

// The TTL the next datagram came with; nothing when none came.
std::optional<int> NextTtl(int socket)
{
    pollfd ready{socket, POLLIN, 0};
    if (::poll(&ready, 1, 20'000) != 1) {
        return std::nullopt;
    }
    std::array<char, 2048> data{};
    iovec part{data.data(), data.size()};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    if (::recvmsg(socket, &message, 0) < 0) {
        return std::nullopt;
    }
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_TTL) {
            int ttl = 0;
            std::memcpy(&ttl, CMSG_DATA(header), sizeof ttl);
            return ttl;
        }
    }
    return std::nullopt;
}

}  // namespace

// A multicast group as the target: its datagrams leave by the interface
// named, with the hop limit asked for; an interface that does not exist is
// refused, naming it.
TEST(UdpSender, SendsToAMulticastGroupByTheInterfaceAndWithTheHopsAskedFor)
{
    std::uint16_t port = 0;
    const UniqueFd member = JoinedOnLoopback("239.255.42.99", port);
    if (!member.valid()) {
        GTEST_SKIP() << "this host lets no socket join a group on lo: " << std::strerror(errno);
    }
    std::string failure;
    const auto target = tavrel::network::ParseUdpTarget("239.255.42.99:" + std::to_string(port), failure);
    ASSERT_TRUE(target) << failure;
    const auto sender = UdpSender::Start(*target, failure, {3, "lo"});
    ASSERT_TRUE(sender) << failure;
    sender->Send(Chunk(82, 5));
    EXPECT_EQ(NextTtl(member.get()), 3);
    EXPECT_FALSE(UdpSender::Start(*target, failure, {1, "nosuchif0"}));
    EXPECT_NE(failure.find("by interface nosuchif0"), std::string::npos) << failure;
}
