#include <algorithm>
#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "network/socket_options.h"
#include "network/tcp_client_output.h"
#include "network_test_support.h"
#include "testkit/loopback.h"

namespace {

using namespace std::chrono_literals;
using namespace tavrel::network;
using namespace tavrel::network::testing;
using tavrel::testing::SocketReader;
using platform::host::UniqueFd;
using Bytes = std::vector<unsigned char>;

// An output to 127.0.0.1:port that tries again after 10 ms, 20 ms … 100 ms.
std::unique_ptr<TcpClientOutput> StartOutput(std::uint16_t port, std::size_t queueBound)
{
    const TcpClientOutputOptions options{.host = "127.0.0.1", .port = port, .firstWait = 10ms, .longestWait = 100ms,
                                         .connectWait = 10s, .timeouts = {}, .queueBound = queueBound};
    std::string failure;
    auto output = TcpClientOutput::Start(options, failure);
    EXPECT_TRUE(output) << failure;
    return output;
}

bool Connected(const TcpClientOutput& output)
{
    return WaitUntil([&] { return output.Health().connected; });
}

TEST(TcpClientOutput, SendsEveryByteInOrderInChunksOfAnySizeAndCountsThem)
{
    const UniqueFd listener = Listen();
    const std::uint16_t port = BoundPort(listener.get());
    // Room for the whole stream: a server that reads loses nothing.
    const auto output = StartOutput(port, 1024 * 1024);
    const SocketReader server(Accept(listener).release());
    ASSERT_TRUE(Connected(*output));
    const Bytes stream = Pattern(200'000, 1);
    for (std::size_t at = 0, size = 1; at < stream.size(); at += size, size = size * 7 % 1499 + 1) {
        output->Deliver(std::span(stream).subspan(at, std::min(size, stream.size() - at)));
    }
    ASSERT_TRUE(WaitUntil([&] { return server.count() >= stream.size(); })) << server.count() << " bytes came";
    EXPECT_EQ(server.bytes(), stream);
    const TcpClientOutputHealth health = output->Health();
    EXPECT_EQ(std::tuple(health.bytesSent, health.bytesDropped, health.connectionsMade), std::tuple(stream.size(), 0U, 1U));
    EXPECT_EQ(health.address, "127.0.0.1:" + std::to_string(port));
}

TEST(TcpClientOutput, ConnectsAgainWhenTheServerComesBackAndSendsOnlyWhatCameSince)
{
    UniqueFd listener = Listen();
    const std::uint16_t port = BoundPort(listener.get());
    const auto output = StartOutput(port, ClientQueue::kDefaultBound);
    const Bytes before = Pattern(1000, 1), meanwhile = Pattern(1000, 2), after = Pattern(1000, 3);
    {
        const SocketReader server(Accept(listener).release());
        ASSERT_TRUE(Connected(*output));
        output->Deliver(before);
        ASSERT_TRUE(WaitUntil([&] { return server.count() == before.size(); }));
        listener = UniqueFd();   // the server goes away: its port refuses from now on
    }
    ASSERT_TRUE(WaitUntil([&] { return output->Health().reason == "connection refused"; })) << output->Health().reason;
    output->Deliver(meanwhile);   // nobody takes it: it is not kept for later

    listener = Listen(port);
    const SocketReader server(Accept(listener).release());
    ASSERT_TRUE(Connected(*output));
    output->Deliver(after);
    ASSERT_TRUE(WaitUntil([&] { return server.count() >= after.size(); }));
    EXPECT_EQ(server.bytes(), after);
    EXPECT_EQ(output->Health().connectionsMade, 2U);
    EXPECT_EQ(output->Health().bytesSent, before.size() + after.size());
}

TEST(TcpClientOutput, DropsWholeChunksForAServerThatDoesNotReadWithoutMakingTheRelayWait)
{
    const UniqueFd listener = Listen();
    constexpr std::size_t kBound = 16 * 1024;
    auto output = StartOutput(BoundPort(listener.get()), kBound);
    const UniqueFd server = Accept(listener);   // never read
    ASSERT_TRUE(Connected(*output));
    const Bytes chunk = Pattern(1000, 4);
    std::uint64_t delivered = 0;
    // Far more than the kernel holds for a connection: most of it must go.
    ASSERT_TRUE(WaitUntil([&] {
        for (int i = 0; i < 100; ++i) {
            output->Deliver(chunk);
            delivered += chunk.size();
        }
        return output->Health().bytesDropped >= 4U * 1024 * 1024;
    })) << output->Health().bytesDropped << " bytes dropped";
    // What was neither sent nor dropped still waits, within the bound.
    const TcpClientOutputHealth health = output->Health();
    EXPECT_GE(delivered, health.bytesSent + health.bytesDropped);
    EXPECT_LE(delivered - health.bytesSent - health.bytesDropped, kBound);
    EXPECT_EQ(health.bytesDropped % chunk.size(), 0U);

    const auto stopping = std::chrono::steady_clock::now();
    output.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 2s);
}

}  // namespace
