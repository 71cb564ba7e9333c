// TCP clients as outputs: each connects once the server listens, the bytes
// each reads are handed on under its own index, one paused is not read, and
// one whose server closes it is seen closed.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench/output_readers.h"
#include "testkit/loopback.h"

namespace {

using namespace tavrel::bench;
using namespace std::chrono_literals;
using platform::host::UniqueFd;

// A server on 127.0.0.1 that accepts the clients in the order they connect.
class LoopbackServer {
public:
    LoopbackServer() : listening_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listening_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listening_.get(), 8) != 0 ||
            ::getsockname(listening_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot listen on the loopback address");
        }
        port_ = ntohs(address.sin_port);
    }
    std::uint16_t port() const { return port_; }
    UniqueFd Accept() const { return UniqueFd(::accept4(listening_.get(), nullptr, nullptr, SOCK_CLOEXEC)); }

private:
    UniqueFd listening_;
    std::uint16_t port_ = 0;
};

void Send(const UniqueFd& client, const std::string& text)
{
    ASSERT_EQ(::send(client.get(), text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

// Reads until `wanted` bytes came in all, or ten seconds passed.
std::vector<std::string> ReadAll(OutputReaders& readers, std::size_t wanted)
{
    std::vector<std::string> got(readers.size());
    std::size_t total = 0;
    const auto deadline = Clock::now() + 10s;
    while (total < wanted && Clock::now() < deadline) {
        readers.Read(100ms, [&](std::size_t output, std::span<const unsigned char> bytes, Clock::time_point) {
            got[output].append(bytes.begin(), bytes.end());
            total += bytes.size();
        });
    }
    return got;
}

TEST(OutputReaders, ClientsConnectOnlyOnceTheServerListens)
{
    const std::uint16_t port = tavrel::testing::FreeLoopbackPort();
    OutputReaders readers(LoopbackClients(port, 2));
    EXPECT_TRUE(readers.OpenMissing().empty());
    EXPECT_FALSE(readers.IsOpen(0));
}

TEST(OutputReaders, EachClientsBytesComeUnderItsIndexAndAPausedOneWaits)
{
    const LoopbackServer server;
    OutputReaders readers(LoopbackClients(server.port(), 3, 1, 4096));
    ASSERT_EQ(readers.OpenMissing(), (std::vector<std::size_t>{0, 1, 2}));
    const UniqueFd first = server.Accept();
    const UniqueFd second = server.Accept();
    const UniqueFd third = server.Accept();
    readers.SetPaused(2, true);
    Send(first, "one");
    Send(second, "two");
    Send(third, "three");
    EXPECT_EQ(ReadAll(readers, 6), (std::vector<std::string>{"one", "two", ""}));
    readers.SetPaused(2, false);
    EXPECT_EQ(ReadAll(readers, 5), (std::vector<std::string>{"", "", "three"}));
}

TEST(OutputReaders, AClientTheServerClosesIsClosedAndCanConnectAgain)
{
    const LoopbackServer server;
    OutputReaders readers(LoopbackClients(server.port(), 1));
    ASSERT_EQ(readers.OpenMissing().size(), 1u);
    {
        const UniqueFd accepted = server.Accept();
        Send(accepted, "last");
    }
    EXPECT_EQ(ReadAll(readers, 4).front(), "last");
    const auto deadline = Clock::now() + 10s;
    while (readers.IsOpen(0) && Clock::now() < deadline) {
        readers.Read(100ms, [](std::size_t, std::span<const unsigned char>, Clock::time_point) {});
    }
    EXPECT_FALSE(readers.IsOpen(0));
    EXPECT_EQ(readers.OpenMissing().size(), 1u);
}

}  // namespace
