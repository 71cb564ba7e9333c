// Programs that talk back, on real parts: the receiver is a pseudo-terminal
// mapped as the built-in input port, the talkers write to the virtual ports'
// links and to a TCP client socket, and what reaches the receiver is read
// from its master.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "network/socket_options.h"
#include "relay/network_outputs.h"
#include "relay/relay_counters.h"
#include "relay/relay_health.h"
#include "relay/relay_run.h"
#include "state/app_settings.h"
#include "state/port_lists.h"
#include "support/test_device.h"
#include "testkit/loopback.h"
#include "testkit/pty_pair.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;
using Bytes = std::vector<unsigned char>;

// A talker's line: who says it, its number, and padding that makes lines of
// different lengths, so that a line cut or mixed cannot pass for another.
std::string TalkLine(const std::string& talker, int number)
{
    return "$PTLK," + talker + "," + std::to_string(number) + "," + std::string(static_cast<std::size_t>(number % 17), 'x') +
           "*00\r\n";
}

// Writes `text` to `fd` in pieces of 1 to 12 bytes.
void WriteInPieces(int fd, const std::string& text, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> size(1, 12);
    for (std::size_t at = 0; at < text.size();) {
        // The program's end of a port is non-blocking: a full port takes part of a piece, or none.
        const std::size_t piece = std::min(size(random), text.size() - at);
        const ssize_t written = ::write(fd, text.data() + at, piece);
        if (written < 0) {
            pollfd room{fd, POLLOUT, 0};
            ASSERT_TRUE(errno == EAGAIN && ::poll(&room, 1, 20'000) == 1);
            continue;
        }
        at += static_cast<std::size_t>(written);
        std::this_thread::yield();
    }
}

// The receiver's lines, split at LF; each talker's numbers in their order.
std::map<std::string, std::vector<int>> NumbersByTalker(const Bytes& received, std::vector<std::string>& broken)
{
    std::map<std::string, std::vector<int>> numbers;
    std::string line;
    for (const unsigned char byte : received) {
        line += static_cast<char>(byte);
        if (byte != '\n') {
            continue;
        }
        const std::size_t talker = line.find(',') + 1;
        const std::size_t number = line.find(',', talker) + 1;
        const std::string name = line.substr(talker, number - talker - 1);
        const int value = std::atoi(line.c_str() + number);
        if (line != TalkLine(name, value)) {
            broken.push_back(line);
        } else {
            numbers[name].push_back(value);
        }
        line.clear();
    }
    return numbers;
}

template <typename Condition>
bool Eventually(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

class TalkBackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_.InstallVirtualPortDriver(QUORVEL_MODULE_PATH);
        for (int n : {2, 3, 4}) {
            device_.WriteVirtualPortKey(n);
        }
        device_.MapBuiltInPort(u"Gps", 1, gps_.slavePath());
        device_.Reboot();
        AppSettings = Settings{};
        AppSettings.inputPort = 1;
        AppSettings.baudIndex = 9;   // 38400: 3840 bytes a second to the receiver
        SplitOutputs = {2, 3, 4};
        UseNetworkSettings({});
    }
    void TearDown() override
    {
        SplitOutputs.clear();
        UseNetworkSettings({});
        for (int fd : fds_) {
            ::close(fd);
        }
    }

    int Program(int port)
    {
        const int fd = OpenRaw(device_.PortLink(port).string());
        EXPECT_GE(fd, 0);
        fds_.push_back(fd);
        return fd;
    }

    PtyPair gps_;
    TestDevice device_;
    std::vector<int> fds_;
};

// Two ports and a TCP client write lines in random pieces at once: the
// receiver gets every line whole, each talker's in its order.
TEST_F(TalkBackTest, LinesOfThreeTalkersAtOnceReachTheReceiverWhole)
{
    AppSettings.portOptions[2].talk = TalkMode::Lines;
    AppSettings.portOptions[3].talk = TalkMode::Lines;
    AppSettings.tcpOptions.talk = TalkMode::Lines;
    NetworkSettings network;
    network.tcpPort = FreeLoopbackPort();
    UseNetworkSettings(network);
    RelayRun run;
    ASSERT_TRUE(run.Start());
    const int client = ConnectLoopback(static_cast<std::uint16_t>(network.tcpPort));
    ASSERT_GE(client, 0);
    fds_.push_back(client);
    const std::vector<std::pair<std::string, int>> talkers{{"COM2", Program(2)}, {"COM3", Program(3)}, {"TCP", client}};

    static constexpr int kLines = 40;
    std::size_t total = 0;
    std::vector<std::thread> writers;
    for (unsigned i = 0; i < talkers.size(); ++i) {
        std::string text;
        for (int n = 0; n < kLines; ++n) {
            text += TalkLine(talkers[i].first, n);
        }
        total += text.size();
        writers.emplace_back([fd = talkers[i].second, text, i] { WriteInPieces(fd, text, i + 1); });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    const Bytes received = ReadFor(gps_.master(), total, 30s);
    std::vector<std::string> broken;
    const auto numbers = NumbersByTalker(received, broken);
    EXPECT_TRUE(broken.empty()) << broken.front();
    std::vector<int> all(kLines);
    std::iota(all.begin(), all.end(), 0);
    for (const auto& [name, fd] : talkers) {
        EXPECT_EQ(numbers.count(name) == 1 ? numbers.at(name) : std::vector<int>{}, all) << name;
    }
    // The counts follow the write to the receiver.
    EXPECT_TRUE(Eventually([] { return RelayCounters.outputs[0].talkedLines.load() == kLines; }));
    EXPECT_TRUE(Eventually([] { return RelayCounters.outputs[kTcpOutputCounts].talkedLines.load() == kLines; }));
    ASSERT_TRUE(run.Stop());
}

// One program floods while two others send a line now and then: the flood is
// held to the receiver's line rate, its excess dropped and counted, and the
// others' lines all arrive whole.
TEST_F(TalkBackTest, AFloodingTalkerIsCutToTheLineRateAndTheOthersLinesStayWhole)
{
    AppSettings.baudIndex = 6;   // 9600: 960 bytes a second
    for (int port : {2, 3, 4}) {
        AppSettings.portOptions[static_cast<std::size_t>(port)].talk = TalkMode::Lines;
    }
    RelayRun run;
    ASSERT_TRUE(run.Start());
    const int flooder = Program(2);
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        // Each line whole, however the port takes it: a line cut by a full
        // port would reach the receiver as a broken line of the test's own making.
        for (int n = 0; flooding; n = (n + 1) % 1000) {
            const std::string line = TalkLine("COM2", n);
            for (std::size_t at = 0; at < line.size() && flooding;) {
                const ssize_t written = ::write(flooder, line.data() + at, line.size() - at);
                at += written > 0 ? static_cast<std::size_t>(written) : 0;
            }
        }
    });
    constexpr int kLines = 8;
    const std::vector<std::pair<std::string, int>> others{{"COM3", Program(3)}, {"COM4", Program(4)}};
    const auto started = std::chrono::steady_clock::now();
    for (int n = 0; n < kLines; ++n) {
        for (const auto& [name, fd] : others) {
            const std::string line = TalkLine(name, n);
            ASSERT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        }
        std::this_thread::sleep_for(150ms);
    }
    const Bytes received = ReadFor(gps_.master(), 1'000'000, 1500ms);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    flooding = false;
    flood.join();

    std::vector<std::string> broken;
    const auto numbers = NumbersByTalker(received, broken);
    EXPECT_TRUE(broken.empty()) << broken.front();
    std::vector<int> all(kLines);
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(numbers.at("COM3"), all);
    EXPECT_EQ(numbers.at("COM4"), all);
    EXPECT_LE(static_cast<double>(received.size()), 960.0 * seconds + 1024);
    EXPECT_GT(RelayCounters.outputs[0].talkDropped.load(), 0u);
    EXPECT_EQ(RelayCounters.outputs[1].talkDropped.load(), 0u);
    ASSERT_TRUE(run.Stop());
}

// A raw talker holds the receiver while it talks: another raw talker is
// refused meanwhile, and a line waits and goes after.
TEST_F(TalkBackTest, ARawTalkerHoldsTheReceiverWhileALineWaits)
{
    AppSettings.portOptions[2].talk = TalkMode::Raw;
    AppSettings.portOptions[3].talk = TalkMode::Raw;
    AppSettings.portOptions[4].talk = TalkMode::Lines;
    RelayRun run;
    ASSERT_TRUE(run.Start());
    const Bytes binary{0xB5, 0x62, 0x06, 0x08, 0x06, 0x00, 0xC8, 0x00, 0x01, 0x00, 0x01, 0x00, 0xDE, 0x6A};
    ASSERT_EQ(::write(Program(2), binary.data(), binary.size()), static_cast<ssize_t>(binary.size()));
    ASSERT_EQ(ReadFor(gps_.master(), binary.size()), binary);
    const std::string line = TalkLine("COM4", 1);
    ASSERT_EQ(::write(Program(4), line.data(), line.size()), static_cast<ssize_t>(line.size()));
    ASSERT_EQ(::write(Program(3), binary.data(), binary.size()), static_cast<ssize_t>(binary.size()));
    EXPECT_TRUE(ReadFor(gps_.master(), 1, 500ms).empty()) << "the line waits while the first raw talker holds";
    EXPECT_EQ(ReadFor(gps_.master(), line.size(), 5s), Bytes(line.begin(), line.end()));
    EXPECT_TRUE(Eventually([&] { return RelayCounters.outputs[1].talkDropped.load() == binary.size(); }));
    ASSERT_TRUE(run.Stop());
}

// A program talks to an extra input that is a TCP source: its line reaches
// the server the source is connected to, which gets its start-up command first.
TEST_F(TalkBackTest, ALineReachesATcpSourceNamedAsTheInputTalkedTo)
{
    std::string failure;
    const platform::host::UniqueFd listener =
        tavrel::network::ListenSocket(tavrel::network::ListenOn::Loopback, FreeLoopbackPort(), failure);
    ASSERT_TRUE(listener.valid()) << failure;
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&bound), &length), 0);
    ExtraInput source;
    source.kind = ExtraInputKind::Tcp;
    source.device = "127.0.0.1";
    source.port = ntohs(reinterpret_cast<const sockaddr_in&>(bound).sin_port);
    source.init = "hello\r\n";
    AppSettings.extraInputs = {source};
    AppSettings.portOptions[2].talk = TalkMode::Lines;
    AppSettings.portOptions[2].talkTo = 1;
    RelayRun run;
    ASSERT_TRUE(run.Start());
    pollfd connecting{listener.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&connecting, 1, 20'000), 1) << "the source did not connect";
    const platform::host::UniqueFd server(::accept(listener.get(), nullptr, nullptr));
    ASSERT_TRUE(server.valid());
    EXPECT_EQ(ReadFor(server.get(), source.init.size()), Bytes(source.init.begin(), source.init.end()));
    const std::string line = TalkLine("COM2", 7);
    ASSERT_EQ(::write(Program(2), line.data(), line.size()), static_cast<ssize_t>(line.size()));
    EXPECT_EQ(ReadFor(server.get(), line.size()), Bytes(line.begin(), line.end()));
    ASSERT_TRUE(run.Stop());
}

}  // namespace
