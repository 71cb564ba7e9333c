#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "network/tcp_server.h"
#include "network_test_support.h"
#include "platform/host/unique_fd.h"
#include "testkit/loopback.h"
#include "testkit/network_namespace.h"
#include "testkit/proc_stats.h"

namespace {

using namespace std::chrono_literals;
using tavrel::network::testing::WaitUntil;
using tavrel::network::ListenOn;
using tavrel::network::TcpServer;
using tavrel::network::TcpServerHealth;
using tavrel::network::TcpServerOptions;
using platform::host::UniqueFd;
using Bytes = std::vector<unsigned char>;

TcpServerOptions LoopbackOptions()
{
    TcpServerOptions options;
    options.port = 0;
    return options;
}

std::unique_ptr<TcpServer> Started(const TcpServerOptions& options)
{
    std::string failure;
    auto server = TcpServer::Start(options, failure);
    EXPECT_TRUE(server) << failure;
    return server;
}

// A connected client socket; a receive that waits longer than 20 s fails.
// `receiveBuffer` (bytes, 0 = the default) is set before connecting, so that
// the kernel holds little for a client that does not read.
UniqueFd Connect(std::uint16_t port, const char* address = "127.0.0.1", int receiveBuffer = 0)
{
    sockaddr_storage peer{};
    socklen_t length = 0;
    auto* ipv4 = reinterpret_cast<sockaddr_in*>(&peer);
    auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&peer);
    if (::inet_pton(AF_INET, address, &ipv4->sin_addr) == 1) {
        ipv4->sin_family = AF_INET;
        ipv4->sin_port = htons(port);
        length = sizeof *ipv4;
    } else if (::inet_pton(AF_INET6, address, &ipv6->sin6_addr) == 1) {
        ipv6->sin6_family = AF_INET6;
        ipv6->sin6_port = htons(port);
        length = sizeof *ipv6;
    }
    UniqueFd socket(::socket(peer.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (receiveBuffer > 0) {
        ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    const timeval patience{20, 0};
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&peer), length) != 0) {
        ADD_FAILURE() << "cannot connect to " << address << " port " << port << ": " << std::strerror(errno);
        return UniqueFd();
    }
    return socket;
}

std::string LocalAddress(int socket)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length);
    return "127.0.0.1:" + std::to_string(ntohs(local.sin_port));
}

// Whether the server closed `socket`: what is still in flight is read and
// the end (or a reset) comes within 20 s.
bool ClosedByServer(int socket)
{
    Bytes rest(64 * 1024);
    for (;;) {
        const ssize_t got = ::recv(socket, rest.data(), rest.size(), 0);
        if (got == 0 || (got < 0 && errno == ECONNRESET)) {
            return true;
        }
        if (got < 0) {
            return false;   // the wait ran out
        }
    }
}

std::optional<tavrel::network::ClientHealth> HealthOf(const TcpServerHealth& health, const std::string& address)
{
    const auto found = std::find_if(health.clients.begin(), health.clients.end(),
                                    [&](const tavrel::network::ClientHealth& client) { return client.address == address; });
    return found == health.clients.end() ? std::nullopt : std::optional(*found);
}

// A client that reads everything it is sent, on a thread of its own, known
// by the address the server sees it at.
class Reader : public tavrel::testing::SocketReader {
public:
    explicit Reader(std::uint16_t port) : SocketReader(Connect(port).release()), address_(LocalAddress(socket())) {}
    const std::string& address() const { return address_; }

private:
    std::string address_;
};

// The stream that the tests relay: NMEA-like sentences, numbered, so that a
// byte out of place or lost shows.
Bytes Sentence(std::size_t number)
{
    const std::string text = "$GPGGA," + std::to_string(number) + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M*47\r\n";
    return Bytes(text.begin(), text.end());
}

// Delivers sentences one chunk at a time, paced by the readers: a chunk goes
// once every reader has the ones before it, so a reader never falls behind
// and must lose nothing. Stops once `enough` holds, at least `least` bytes
// on; returns the whole stream, empty when a reader stopped reading.
Bytes PacedStream(TcpServer& server, const std::vector<const Reader*>& readers, std::size_t least,
                  const std::function<bool()>& enough)
{
    Bytes stream;
    for (std::size_t number = 0; stream.size() < least || !enough(); ++number) {
        const Bytes chunk = Sentence(number);
        server.Deliver(chunk);
        stream.insert(stream.end(), chunk.begin(), chunk.end());
        const bool caughtUp = WaitUntil([&] {
            return std::all_of(readers.begin(), readers.end(), [&](const Reader* reader) { return reader->count() == stream.size(); });
        });
        if (!caughtUp || stream.size() > 64 * 1024 * 1024) {
            ADD_FAILURE() << "the stream stalled after " << stream.size() << " bytes";
            return {};
        }
    }
    return stream;
}

TEST(TcpServer, ReadersGetEveryByteInOrderWhileAClientThatNeverReadsIsCutOff)
{
    TcpServerOptions options = LoopbackOptions();
    options.queueBound = 8 * 1024;
    options.fullClientKept = 300ms;
    const auto server = Started(options);
    ASSERT_TRUE(server);
    const UniqueFd stalled = Connect(server->port(), "127.0.0.1", 4096);
    const Reader first(server->port()), second(server->port()), third(server->port());
    ASSERT_TRUE(WaitUntil([&] { return server->Health().clients.size() == 4; }));

    const Bytes stream = PacedStream(*server, {&first, &second, &third}, 64 * 1024,
                                     [&] { return server->Health().clientsCutOff == 1; });
    ASSERT_FALSE(stream.empty());

    for (const Reader* reader : {&first, &second, &third}) {
        EXPECT_EQ(reader->bytes(), stream);
    }
    const TcpServerHealth health = server->Health();
    EXPECT_EQ(health.clientsCutOff, 1U);
    EXPECT_EQ(health.clientsRefused, 0U);
    ASSERT_EQ(health.clients.size(), 3U);
    for (const Reader* reader : {&first, &second, &third}) {
        const auto client = HealthOf(health, reader->address());
        ASSERT_TRUE(client) << reader->address();
        EXPECT_EQ(client->bytesSent, stream.size());
        EXPECT_EQ(client->bytesDropped, 0U);
    }
    EXPECT_TRUE(ClosedByServer(stalled.get()));
}

TEST(TcpServer, CountsWhatASlowClientWasSentAndWhatItLostInWholeChunks)
{
    TcpServerOptions options = LoopbackOptions();
    options.queueBound = 4 * 1024;
    options.fullClientKept = 1h;   // behind, but never cut off here
    const auto server = Started(options);
    ASSERT_TRUE(server);
    const UniqueFd slow = Connect(server->port(), "127.0.0.1", 4096);
    ASSERT_TRUE(WaitUntil([&] { return server->Health().clients.size() == 1; }));

    // Far more than the kernel and the queue hold for a client that does not read.
    constexpr std::size_t kChunk = 100;
    constexpr std::size_t kChunks = 20'000;
    for (std::size_t number = 0; number < kChunks; ++number) {
        server->Deliver(Bytes(kChunk, static_cast<unsigned char>(number % 251)));
    }

    Bytes received;
    Bytes buffer(64 * 1024);
    const std::string address = LocalAddress(slow.get());
    const bool settled = WaitUntil([&] {
        const ssize_t got = ::recv(slow.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got > 0) {
            received.insert(received.end(), buffer.begin(), buffer.begin() + got);
        }
        const auto client = HealthOf(server->Health(), address);
        return client && client->bytesSent + client->bytesDropped == kChunk * kChunks &&
               client->bytesSent == received.size();
    });
    ASSERT_TRUE(settled) << received.size() << " bytes received";

    const auto client = HealthOf(server->Health(), address);
    ASSERT_TRUE(client);
    EXPECT_GT(client->bytesDropped, 0U);
    // What arrived is whole chunks, in the order they were delivered.
    ASSERT_EQ(received.size() % kChunk, 0U);
    int last = -1;
    std::size_t chunksInOrder = 0;
    for (std::size_t at = 0; at < received.size(); at += kChunk) {
        const auto chunk = std::span(received).subspan(at, kChunk);
        const bool whole = std::all_of(chunk.begin(), chunk.end(), [&](unsigned char byte) { return byte == chunk[0]; });
        chunksInOrder += whole ? 1 : 0;
        last = chunk[0];
    }
    EXPECT_EQ(chunksInOrder, received.size() / kChunk);
    // The newest chunk always arrives: what is dropped is the oldest.
    EXPECT_EQ(last, static_cast<int>((kChunks - 1) % 251));
}

TEST(TcpServer, ClosesAClientOverTheLimitAtOnceAndCountsIt)
{
    TcpServerOptions options = LoopbackOptions();
    options.maxClients = 16;
    const auto server = Started(options);
    ASSERT_TRUE(server);
    std::vector<UniqueFd> clients;
    for (int i = 0; i < 16; ++i) {
        clients.push_back(Connect(server->port()));
    }
    ASSERT_TRUE(WaitUntil([&] { return server->Health().clients.size() == 16; }));

    const UniqueFd seventeenth = Connect(server->port());
    EXPECT_TRUE(ClosedByServer(seventeenth.get()));
    EXPECT_TRUE(WaitUntil([&] { return server->Health().clientsRefused == 1; }));
    EXPECT_EQ(server->Health().clients.size(), 16U);

    // A place that comes free is taken by the next one.
    clients.pop_back();
    ASSERT_TRUE(WaitUntil([&] { return server->Health().clients.size() == 15; }));
    const UniqueFd next = Connect(server->port());
    EXPECT_TRUE(WaitUntil([&] { return server->Health().clients.size() == 16; }));
    EXPECT_EQ(server->Health().clientsRefused, 1U);
}

TEST(TcpServer, AClientThatSendsMegabytesDoesNotSlowTheOthers)
{
    const auto server = Started(LoopbackOptions());
    ASSERT_TRUE(server);
    const UniqueFd flooder = Connect(server->port());
    const Reader first(server->port()), second(server->port());
    ASSERT_TRUE(WaitUntil([&] { return server->Health().clients.size() == 3; }));

    std::atomic<bool> stop{false};
    std::atomic<std::size_t> flooded{0};
    std::thread flood([&] {
        const Bytes junk(64 * 1024, 'x');
        while (!stop) {
            const ssize_t sent = ::send(flooder.get(), junk.data(), junk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0) {
                flooded += static_cast<std::size_t>(sent);
            } else {
                std::this_thread::yield();
            }
        }
    });
    // The flood is read and thrown away: far more goes through than the kernel could hold.
    const bool floodRead = WaitUntil([&] { return flooded > 16U * 1024 * 1024; });
    const Bytes stream = PacedStream(*server, {&first, &second}, 64 * 1024, [] { return true; });
    stop = true;
    flood.join();

    EXPECT_TRUE(floodRead) << flooded << " bytes flooded";
    ASSERT_FALSE(stream.empty());
    EXPECT_EQ(first.bytes(), stream);
    EXPECT_EQ(second.bytes(), stream);
    EXPECT_EQ(server->Health().clients.size(), 3U);
}

TEST(TcpServer, RefusesAPeerThatTheAllowListLeavesOut)
{
    std::string failure;
    TcpServerOptions options = LoopbackOptions();
    options.allow = *tavrel::network::AddressAllowList::Parse("10.0.0.0/8 fe80::/10", failure);
    const auto server = Started(options);
    ASSERT_TRUE(server);
    const UniqueFd outsider = Connect(server->port());
    EXPECT_TRUE(ClosedByServer(outsider.get()));
    EXPECT_TRUE(WaitUntil([&] { return server->Health().clientsRefused == 1; }));
    EXPECT_TRUE(server->Health().clients.empty());
}

TEST(TcpServer, OnEveryAddressServesIPv4PeersAsTheirIPv4Address)
{
    std::string failure;
    TcpServerOptions options = LoopbackOptions();
    options.listenOn = ListenOn::AnyAddress;
    options.allow = *tavrel::network::AddressAllowList::Parse("127.0.0.1", failure);
    const auto server = Started(options);
    ASSERT_TRUE(server);
    const Reader reader(server->port());
    ASSERT_TRUE(WaitUntil([&] { return server->Health().clients.size() == 1; }));
    EXPECT_EQ(server->Health().clients[0].address, reader.address());
    const Bytes stream = PacedStream(*server, {&reader}, 1, [] { return true; });
    EXPECT_EQ(reader.bytes(), stream);

    // ::1 is not 127.0.0.1: left out, where the host has IPv6 at all.
    UniqueFd probe(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (probe.valid()) {
        const UniqueFd ipv6 = Connect(server->port(), "::1");
        EXPECT_TRUE(ClosedByServer(ipv6.get()));
        EXPECT_TRUE(WaitUntil([&] { return server->Health().clientsRefused == 1; }));
    }
}

// A thousand clients connect and go, half of them after being served a chunk.
void ComeAndGo(TcpServer& server)
{
    for (int cycle = 0; cycle < 1000; ++cycle) {
        UniqueFd client = Connect(server.port());
        ASSERT_TRUE(client.valid());
        if (cycle % 2 == 1) {
            const std::string address = LocalAddress(client.get());
            ASSERT_TRUE(WaitUntil([&] { return HealthOf(server.Health(), address).has_value(); }));
            const Bytes chunk = Sentence(static_cast<std::size_t>(cycle));
            server.Deliver(chunk);
            Bytes got(chunk.size());
            ASSERT_EQ(::recv(client.get(), got.data(), got.size(), MSG_WAITALL), static_cast<ssize_t>(chunk.size()));
        }
    }
}

TEST(TcpServer, AThousandConnectionsComeAndGoWithoutLeavingADescriptorBehind)
{
    const auto server = Started(LoopbackOptions());
    ASSERT_TRUE(server);
    const std::size_t before = tavrel::testing::OpenDescriptorCount();
    ComeAndGo(*server);
    EXPECT_TRUE(WaitUntil([&] {
        return server->Health().clients.empty() && tavrel::testing::OpenDescriptorCount() == before;
    })) << tavrel::testing::OpenDescriptorCount() << " descriptors open, " << before << " before";
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Without sanitizers only: they keep freed memory aside on purpose, and the
// address sanitizer finds a leak by itself.
TEST(TcpServer, AThousandConnectionsComeAndGoWithoutTheMemoryGrowing)
{
    const auto server = Started(LoopbackOptions());
    ASSERT_TRUE(server);
    ComeAndGo(*server);   // the allocator's pools settle
    const pid_t self[] = {::getpid()};
    const std::uint64_t settled = tavrel::testing::ResidentKilobytes(self);
    ComeAndGo(*server);
    ASSERT_TRUE(WaitUntil([&] { return server->Health().clients.empty(); }));
    // A kilobyte kept for each client that came would show as a megabyte.
    EXPECT_LT(tavrel::testing::ResidentKilobytes(self), settled + 512);
}
#endif

TEST(TcpServer, APortInUseGivesAClearFailureNamingTheAddressAndPort)
{
    const auto first = Started(LoopbackOptions());
    ASSERT_TRUE(first);
    const std::string port = std::to_string(first->port());
    for (const ListenOn where : {ListenOn::Loopback, ListenOn::AnyAddress}) {
        TcpServerOptions options = LoopbackOptions();
        options.port = first->port();
        options.listenOn = where;
        std::string failure;
        EXPECT_FALSE(TcpServer::Start(options, failure));
        const std::string address = where == ListenOn::Loopback ? "127.0.0.1" : "all addresses";
        EXPECT_EQ(failure, "cannot listen on " + address + " port " + port +
                               ": Address already in use (another program listens on that port)");
    }
}

// How the server's thread sleeps now, once it has settled into it.
bool ServerSleeps(tavrel::testing::PollSleep sleep)
{
    return WaitUntil([sleep] {
        const auto thread = tavrel::testing::ThreadNamed(::getpid(), "tcp-server");
        return thread && tavrel::testing::PollSleepOf(::getpid(), thread->thread) == sleep;
    });
}

TEST(TcpServer, SleepsWithoutATimeOutUnlessAClientIsBehind)
{
    using tavrel::testing::PollSleep;
    TcpServerOptions options = LoopbackOptions();
    options.queueBound = 1024;
    options.fullClientKept = 1h;
    const auto server = Started(options);
    ASSERT_TRUE(server);
    EXPECT_TRUE(ServerSleeps(PollSleep::Untimed));
    const Reader reader(server->port());
    ASSERT_TRUE(WaitUntil([&] { return server->Health().clients.size() == 1; }));
    ASSERT_FALSE(PacedStream(*server, {&reader}, 4096, [] { return true; }).empty());
    EXPECT_TRUE(ServerSleeps(PollSleep::Untimed));

    // A client that does not read: once it loses chunks, the server wakes to cut it off in time.
    std::optional<UniqueFd> behind = Connect(server->port(), "127.0.0.1", 4096);
    const std::string address = LocalAddress(behind->get());
    ASSERT_TRUE(WaitUntil([&] { return server->Health().clients.size() == 2; }));
    ASSERT_TRUE(WaitUntil([&] {
        server->Deliver(Sentence(0));
        const auto client = HealthOf(server->Health(), address);
        return client && client->bytesDropped > 0;
    }));
    EXPECT_TRUE(ServerSleeps(PollSleep::Timed));
    behind.reset();   // it leaves: nobody is behind any more
    ASSERT_TRUE(WaitUntil([&] { return server->Health().clients.size() == 1; }));
    EXPECT_TRUE(ServerSleeps(PollSleep::Untimed));
}

// A /proc file of a thread, opened once and read afresh on each look, so
// that it can be read while the process has no descriptor to spare.
class ProcFile {
public:
    explicit ProcFile(const std::string& path) : file_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    std::string Text() const
    {
        std::string text(4096, '\0');
        const ssize_t got = ::pread(file_.get(), text.data(), text.size(), 0);
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return text;
    }

private:
    UniqueFd file_;
};

TEST(TcpServer, WaitsWithoutSpinningWhileTheProcessHasNoDescriptorToSpare)
{
    using tavrel::testing::PollSleep;
    const auto server = Started(LoopbackOptions());
    ASSERT_TRUE(server);
    ASSERT_TRUE(ServerSleeps(PollSleep::Untimed));
    const auto thread = tavrel::testing::ThreadNamed(::getpid(), "tcp-server");
    ASSERT_TRUE(thread);
    const std::string task = "/proc/self/task/" + std::to_string(thread->thread);
    const ProcFile stat(task + "/stat"), syscall(task + "/syscall");
    UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(server->port());

    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    rlimit exhausted = limit;
    exhausted.rlim_cur = tavrel::testing::OpenDescriptorCount();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &exhausted), 0);
    // Connecting takes no new descriptor here; accepting it does, and there is none.
    const bool connected = ::connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    // A server that kept trying would never sleep; one that waits sleeps with a time-out.
    const bool waits = WaitUntil([&] { return tavrel::testing::PollSleepFromTexts(stat.Text(), syscall.Text()) == PollSleep::Timed; });
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);

    EXPECT_TRUE(connected) << std::strerror(errno);
    EXPECT_TRUE(waits);
    EXPECT_TRUE(WaitUntil([&] { return server->Health().clients.size() == 1; }));
    EXPECT_TRUE(ServerSleeps(PollSleep::Untimed));
}

TEST(TcpServer, EndingClosesEveryConnection)
{
    auto server = Started(LoopbackOptions());
    ASSERT_TRUE(server);
    const UniqueFd client = Connect(server->port());
    ASSERT_TRUE(WaitUntil([&] { return server->Health().clients.size() == 1; }));
    server.reset();
    EXPECT_TRUE(ClosedByServer(client.get()));
}

// A client connects, then its network vanishes: `lo` goes down, so nothing
// more passes either way, no FIN, no reset, as when a tablet leaves the
// boat's Wi-Fi. The server must let it go by itself, within a bound far
// below the one of the default timings, and serve a new client once the
// network is back. `sending`: the server has data on its way to it.
void ExpectVanishedClientLetGo(const tavrel::network::ClientTimeouts& timeouts, bool sending)
{
    TcpServerOptions options = LoopbackOptions();
    options.clientTimeouts = timeouts;
    const auto server = Started(options);
    ASSERT_TRUE(server);
    const UniqueFd vanishing = Connect(server->port());
    ASSERT_TRUE(WaitUntil([&] { return server->Health().clients.size() == 1; }));

    ASSERT_TRUE(tavrel::testing::SetInterfaceUp("lo", false)) << std::strerror(errno);
    if (sending) {
        server->Deliver(Sentence(1));
    }
    EXPECT_TRUE(WaitUntil([&] { return server->Health().clients.empty(); }, 20s))
        << "the vanished client was not let go within 20 s";

    ASSERT_TRUE(tavrel::testing::SetInterfaceUp("lo", true)) << std::strerror(errno);
    const Reader next(server->port());
    ASSERT_TRUE(WaitUntil([&] { return server->Health().clients.size() == 1; }));
    const Bytes stream = PacedStream(*server, {&next}, 1, [] { return true; });
    ASSERT_FALSE(stream.empty());
    EXPECT_EQ(next.bytes(), stream);
}

TEST(TcpServer, AnIdleClientWhosePeerVanishesWithoutFinIsLetGoByKeepalive)
{
    // Keepalive alone: probes after 1 s of silence, every second, 2 of them; no user time-out.
    tavrel::network::testing::RunInOwnNetworkNamespace([] { ExpectVanishedClientLetGo({1s, 1s, 2, 0ms}, false); });
}

TEST(TcpServer, AClientWhosePeerVanishesWhileSentToIsLetGoByTheUserTimeOut)
{
    // The user time-out alone: keepalive would wait an hour.
    tavrel::network::testing::RunInOwnNetworkNamespace([] { ExpectVanishedClientLetGo({1h, 1h, 9, 2s}, true); });
}

}  // namespace
