// The relay's network outputs on real parts: a pseudo-terminal as the input,
// the virtual port driver, the settings in the device's registry, and real
// TCP clients on the loopback address. The run's health is read as the
// Status dialog and tavrel-status read it.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "platform/debug_capture.h"
#include "platform/strings.h"
#include "relay/relay_health.h"
#include "relay/relay_run.h"
#include "relay/network_outputs.h"
#include "state/app_settings.h"
#include "state/port_lists.h"
#include "support/test_device.h"
#include "mqtt/mqtt_test_subscriber.h"
#include "network/socket_options.h"
#include "testkit/loopback.h"
#include "testkit/mqtt_broker.h"
#include "testkit/temp_folder.h"
#include "testkit/pty_pair.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;
using Bytes = std::vector<unsigned char>;

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 20s)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class NetworkRelayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_.InstallVirtualPortDriver(QUORVEL_MODULE_PATH);
        device_.WriteVirtualPortKey(2);
        device_.MapBuiltInPort(u"Gps", 1, gps_.slavePath());
        device_.Reboot();
        AppSettings = Settings{};
        AppSettings.inputPort = 1;
        AppSettings.baudIndex = 6;
        SplitOutputs = {2};
        UseNetworkSettings({});
    }
    void TearDown() override
    {
        SplitOutputs.clear();
        for (int fd : fds_) {
            ::close(fd);
        }
    }

    void StoreTcpPort(std::uint16_t port)
    {
        NetworkSettings settings;
        settings.tcpPort = port;
        UseNetworkSettings(settings);
    }

    int Kept(int fd)
    {
        if (fd >= 0) {
            fds_.push_back(fd);
        }
        return fd;
    }

    PtyPair gps_;
    TestDevice device_;
    std::vector<int> fds_;
};

TEST_F(NetworkRelayTest, ATcpClientGetsTheStreamByteForByteBesideThePortAndTheHealthCountsIt)
{
    const std::uint16_t tcpPort = FreeLoopbackPort();
    StoreTcpPort(tcpPort);
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(run.running());
    const int reader = Kept(OpenRaw(device_.PortLink(2).string()));
    const int client = Kept(ConnectLoopback(tcpPort));
    ASSERT_GE(reader, 0);
    ASSERT_GE(client, 0) << "nothing listens on the stored TcpPort " << tcpPort;
    ASSERT_TRUE(WaitUntil([] { return TakeRelayHealth().network.tcp.clients.size() == 1; }));
    ASSERT_TRUE(WaitUntilRelaying(gps_, {reader, client}));
    const RelayHealth before = TakeRelayHealth();

    const Bytes all = AllByteValues();
    gps_.Write(all);
    EXPECT_EQ(ReadFor(reader, all.size()), all);
    EXPECT_EQ(ReadFor(client, all.size()), all);

    const RelayHealth health = TakeRelayHealth();
    EXPECT_TRUE(health.input.relaying);
    EXPECT_EQ(health.input.port, 1);
    EXPECT_EQ(health.input.bytesRead - before.input.bytesRead, all.size());
    ASSERT_TRUE(health.input.sinceLastByte.has_value());
    EXPECT_LT(*health.input.sinceLastByte, 20s);
    ASSERT_EQ(health.outputs.size(), 1u);
    EXPECT_EQ(health.outputs[0].port, 2);
    EXPECT_EQ(health.outputs[0].bytesRelayed - before.outputs[0].bytesRelayed, all.size());
    EXPECT_EQ(health.outputs[0].path, device_.PortLink(2).string());
    EXPECT_EQ(health.network.tcpPort, tcpPort);
    ASSERT_TRUE(WaitUntil([&] {
        const auto clients = TakeRelayHealth().network.tcp.clients;
        return clients.size() == 1 && clients[0].bytesSent == health.input.bytesRead;
    })) << "the client's count should match the bytes read";
    EXPECT_EQ(RelaySummary(TakeRelayHealth()), "Tavrel: COM1 to 1 port, 1 TCP client");

    ASSERT_TRUE(run.Stop());
    const RelayHealth ended = TakeRelayHealth();
    EXPECT_FALSE(ended.input.relaying);
    EXPECT_TRUE(ended.outputs.empty());
    EXPECT_EQ(ended.network.tcpPort, 0);
    EXPECT_EQ(RelaySummary(ended), "Tavrel: idle");
    EXPECT_EQ(ConnectLoopback(tcpPort), -1) << "the server should have let go of its port";
}

TEST_F(NetworkRelayTest, ATcpPortInUseLeavesTheRelayRunningAndSaysWhichPort)
{
    const int holder = Kept(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string port = std::to_string(ntohs(address.sin_port));
    StoreTcpPort(ntohs(address.sin_port));

    platform::DebugOutputCapture debug;
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(run.running());
    const std::string failure = TakeRelayHealth().network.tcpFailure;
    EXPECT_NE(failure.find(port), std::string::npos) << failure;
    EXPECT_NE(failure.find("in use"), std::string::npos) << failure;
    EXPECT_EQ(debug.Count(platform::ToUtf16("Network output not started: " + failure + "\n")), 1u);

    const int reader = Kept(OpenRaw(device_.PortLink(2).string()));
    ASSERT_TRUE(WaitUntilRelaying(gps_, {reader}));
    const Bytes all = AllByteValues();
    gps_.Write(all);
    EXPECT_EQ(ReadFor(reader, all.size()), all);
    ASSERT_TRUE(run.Stop());
}

TEST_F(NetworkRelayTest, AUdpTargetGetsEveryChunkAsADatagramAndTheHealthCountsThem)
{
    const int receiver = Kept(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(receiver, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string target = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    NetworkSettings settings;
    settings.udpTarget = platform::ToUtf16(target);
    UseNetworkSettings(settings);

    RelayRun run;
    ASSERT_TRUE(run.Start());
    const int reader = Kept(OpenRaw(device_.PortLink(2).string()));
    ASSERT_TRUE(WaitUntilRelaying(gps_, {reader}));
    const RelayHealth before = TakeRelayHealth();
    EXPECT_EQ(before.network.udpTarget, target);
    EXPECT_TRUE(before.network.udpFailure.empty()) << before.network.udpFailure;
    const timeval patience{20, 0};
    ::setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    // The probe bytes went out as datagrams too: what is waiting is let go.
    Bytes datagram(2048);
    while (::recv(receiver, datagram.data(), datagram.size(), MSG_DONTWAIT) > 0) {
    }

    const Bytes all = AllByteValues();
    gps_.Write(all);
    EXPECT_EQ(ReadFor(reader, all.size()), all);
    Bytes received;
    std::size_t datagrams = 0;
    while (received.size() < all.size()) {
        const ssize_t got = ::recv(receiver, datagram.data(), datagram.size(), 0);
        ASSERT_GT(got, 0) << "after " << received.size() << " bytes";
        received.insert(received.end(), datagram.begin(), datagram.begin() + got);
        ++datagrams;
    }
    EXPECT_EQ(received, all);
    const NetworkHealth health = TakeRelayHealth().network;
    EXPECT_EQ(health.udpBytesSent - before.network.udpBytesSent, all.size());
    EXPECT_EQ(health.udpDatagramsSent - before.network.udpDatagramsSent, datagrams);
    EXPECT_EQ(health.udpSendFailures, 0u);
    EXPECT_EQ(RelaySummary(TakeRelayHealth()), "Tavrel: COM1 to 1 port, UDP to " + target);
    ASSERT_TRUE(run.Stop());
}

// Numbered NMEA-like sentences, so that a lost or repeated piece shows.
Bytes Sentence(std::size_t number)
{
    const std::string text = "$GPGGA," + std::to_string(number) + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M*47\r\n";
    return Bytes(text.begin(), text.end());
}

// A receiver at 115200 baud sends for 30 s to three clients that read and one
// that never does. The three get every byte in order; the one that never
// reads loses the oldest chunks, counted, and once it has been behind for the
// server's bound (30 s) it is cut off and counted. The stream goes on until
// then, at the line's pace.
TEST_F(NetworkRelayTest, ThreeReadersGetAPacedStreamWhileOneThatNeverReadsIsCutOff)
{
    const std::uint16_t tcpPort = FreeLoopbackPort();
    StoreTcpPort(tcpPort);
    RelayRun run;
    ASSERT_TRUE(run.Start());
    const int stalled = Kept(ConnectLoopback(tcpPort, 4096));
    ASSERT_GE(stalled, 0);
    SocketReader first(ConnectLoopback(tcpPort)), second(ConnectLoopback(tcpPort)), third(ConnectLoopback(tcpPort));
    ASSERT_TRUE(WaitUntil([] { return TakeRelayHealth().network.tcp.clients.size() == 4; }));
    // What arrives while the worker starts up is dropped: a probe byte, which
    // no sentence holds, goes until every reader has one.
    const Bytes probe{0x01};
    ASSERT_TRUE(WaitUntil([&] {
        gps_.Write(probe);
        return WaitUntil([&] { return first.count() != 0 && second.count() != 0 && third.count() != 0; }, 200ms);
    }));

    constexpr auto kLineBytesPerSecond = 115200 / 10;
    const auto start = std::chrono::steady_clock::now();
    Bytes stream;
    bool cutOff = false;
    for (std::size_t number = 0; !cutOff || std::chrono::steady_clock::now() - start < 30s; ++number) {
        const Bytes sentence = Sentence(number);
        gps_.Write(sentence);
        stream.insert(stream.end(), sentence.begin(), sentence.end());
        const auto due = start + std::chrono::microseconds(stream.size() * 1'000'000 / kLineBytesPerSecond);
        std::this_thread::sleep_until(due);
        cutOff = TakeRelayHealth().network.tcp.clientsCutOff == 1;
        ASSERT_LT(std::chrono::steady_clock::now() - start, 180s) << "the client that never reads was never cut off";
    }
    for (const SocketReader* reader : {&first, &second, &third}) {
        ASSERT_TRUE(WaitUntil([&] { return reader->count() >= stream.size() && reader->bytes().back() == '\n'; }));
        const Bytes got = reader->bytes();
        const auto probes = std::find_if(got.begin(), got.end(), [](unsigned char byte) { return byte != 0x01; });
        EXPECT_TRUE(Bytes(probes, got.end()) == stream) << got.size() << " bytes for a stream of " << stream.size();
    }
    const tavrel::network::TcpServerHealth health = TakeRelayHealth().network.tcp;
    EXPECT_EQ(health.clientsCutOff, 1u);
    ASSERT_EQ(health.clients.size(), 3u);
    for (const tavrel::network::ClientHealth& client : health.clients) {
        EXPECT_EQ(client.bytesDropped, 0u) << client.address;
    }
    ASSERT_TRUE(run.Stop());
}

// "$BODY*hh\r\n" with the checksum that BODY needs.
std::string Sentence(const std::string& body)
{
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum);
    return "$" + body + "*" + hex + "\r\n";
}

// A shaped port and the TCP server share one shape and get its lines only,
// whole; another port has a shape of its own, and the transparent port
// beside them gets every byte as it came.
TEST_F(NetworkRelayTest, ShapedOutputsGetTheirLinesAndATransparentOneEveryByte)
{
    for (int n : {3, 4}) {
        device_.WriteVirtualPortKey(n);
    }
    SplitOutputs = {2, 3, 4};
    OutputShape shape;
    shape.only = {"RMC", "GGA"};
    shape.checksum = true;
    shape.talkers = {{"GN", "GP"}};
    AppSettings.portOptions[3].shape = shape;
    AppSettings.tcpOptions.shape = shape;
    AppSettings.portOptions[4].shape.deny = {"GSV"};
    AppSettings.portOptions[4].shape.checksum = true;
    AppSettings.portOptions[4].shape.every = {{"RMC", 60'000}};
    const std::uint16_t tcpPort = FreeLoopbackPort();
    StoreTcpPort(tcpPort);
    RelayRun run;
    ASSERT_TRUE(run.Start());
    const int transparent = Kept(OpenRaw(device_.PortLink(2).string()));
    const int shaped = Kept(OpenRaw(device_.PortLink(3).string()));
    const int other = Kept(OpenRaw(device_.PortLink(4).string()));
    const int client = Kept(ConnectLoopback(tcpPort));
    ASSERT_TRUE(transparent >= 0 && shaped >= 0 && other >= 0 && client >= 0);
    ASSERT_TRUE(WaitUntil([] { return TakeRelayHealth().network.tcp.clients.size() == 1; }));
    const std::string rmc = Sentence("GNRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W");
    const std::string gga = Sentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
    // Once the relay reaches the transparent reader, a line feed ends what
    // the shaped outputs kept of that, which is no sentence, so it is dropped.
    ASSERT_TRUE(WaitUntilRelaying(gps_, {transparent}));
    const std::string first = "\r\n" + gga;
    gps_.Write(Bytes(first.begin(), first.end()));
    for (const int reader : {shaped, client, other}) {
        ASSERT_EQ(ReadFor(reader, gga.size()), Bytes(gga.begin(), gga.end()));
    }
    ReadFor(transparent, 100'000, 300ms);

    std::string badGga = gga;
    badGga[badGga.size() - 3] ^= 1;
    const std::string ais = "!AIVDM,1,1,,B,15M67FC000G?ufbE`FepT@3n00Sa,0*5C\r\n";
    const std::string stream = rmc + Sentence("GNGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00") +
                               badGga + ais + gga + rmc;
    for (std::size_t at = 0; at < stream.size(); at += 7) {
        const std::string piece = stream.substr(at, 7);
        gps_.Write(Bytes(piece.begin(), piece.end()));
    }
    const std::string rewritten = Sentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W");
    const std::string shapedExpected = rewritten + gga + rewritten;
    const std::string otherExpected = rmc + ais + gga;   // the second RMC within the minute is decimated
    EXPECT_EQ(ReadFor(transparent, stream.size()), Bytes(stream.begin(), stream.end()));
    EXPECT_EQ(ReadFor(shaped, shapedExpected.size()), Bytes(shapedExpected.begin(), shapedExpected.end()));
    EXPECT_EQ(ReadFor(client, shapedExpected.size()), Bytes(shapedExpected.begin(), shapedExpected.end()));
    EXPECT_EQ(ReadFor(other, otherExpected.size()), Bytes(otherExpected.begin(), otherExpected.end()));
    for (const int reader : {shaped, other}) {
        EXPECT_TRUE(ReadFor(reader, 1, 200ms).empty());
    }
    ASSERT_TRUE(run.Stop());
}

// The stream reaches past the machine: a server that Tavrel connects to gets
// what the TCP server's clients get, and an MQTT broker gets every sentence on
// its topic. A new topic remakes the publisher only: the server's client and
// the server Tavrel connected to stay connected and keep getting the stream.
TEST_F(NetworkRelayTest, AServerItConnectsToAndAnMqttBrokerGetTheStreamAndANewTopicCutsNobodyOff)
{
    if (!std::filesystem::exists(kMqttBrokerProgram)) {
        GTEST_SKIP() << kMqttBrokerProgram << " is not installed (Debian package mosquitto)";
    }
    TempFolder folder;
    const std::uint16_t brokerPort = FreeLoopbackPort();
    MqttBroker broker(folder.path(), MqttListener(brokerPort) + "allow_anonymous true\n");
    ASSERT_TRUE(broker.Start(brokerPort)) << broker.Log();
    MqttSubscriber subscriber(brokerPort, "relay/#");
    std::string failure;
    const std::uint16_t targetPort = FreeLoopbackPort();
    const platform::host::UniqueFd listener = tavrel::network::ListenSocket(tavrel::network::ListenOn::Loopback, targetPort, failure);
    ASSERT_TRUE(listener.valid()) << failure;

    NetworkSettings settings;
    settings.tcpPort = FreeLoopbackPort();
    settings.tcpConnect = platform::ToUtf16("127.0.0.1:" + std::to_string(targetPort));
    settings.mqtt.broker = platform::ToUtf16("127.0.0.1:" + std::to_string(brokerPort));
    settings.mqtt.topic = u"relay/<talker><type>";
    settings.mqtt.qos = 1;
    UseNetworkSettings(settings);
    RelayRun run;
    ASSERT_TRUE(run.Start());
    int target = -1;
    ASSERT_TRUE(WaitUntil([&] { return (target = Kept(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC))) >= 0; }));
    const int client = Kept(ConnectLoopback(static_cast<std::uint16_t>(settings.tcpPort)));
    ASSERT_TRUE(WaitUntilRelaying(gps_, {target, client}));
    ASSERT_TRUE(WaitUntil([&] { return subscriber.subscribed() && TakeRelayHealth().network.mqtt.connected; }));

    const std::string rmc = Sentence("GPRMC,1");
    const std::string first = "\r\n" + rmc;
    gps_.Write(Bytes(first.begin(), first.end()));
    for (const int reader : {target, client}) {
        const Bytes got = ReadFor(reader, 100'000, 500ms);   // the probes that found the run relaying, then the RMC
        EXPECT_TRUE(std::string(got.begin(), got.end()).ends_with(rmc));
    }
    settings.mqtt.topic = u"relay/again/<type>";
    UseNetworkSettings(settings);
    ASSERT_TRUE(WaitUntil([] { return TakeRelayHealth().network.mqtt.connected; }));
    const std::string second = Sentence("GPGGA,2");
    gps_.Write(Bytes(second.begin(), second.end()));
    for (const int reader : {target, client}) {
        EXPECT_EQ(ReadFor(reader, second.size()), Bytes(second.begin(), second.end()))
            << "a new topic should cut no TCP connection off";
    }
    const std::string firstSentence = rmc.substr(0, rmc.size() - 2);
    const std::string secondSentence = second.substr(0, second.size() - 2);
    const std::vector<MqttMessage> expected{{"relay/GPRMC", firstSentence}, {"relay/again/GGA", secondSentence}};
    EXPECT_TRUE(WaitUntil([&] { return subscriber.messages().size() >= 2; }));
    EXPECT_EQ(subscriber.messages(), expected);

    const NetworkHealth health = TakeRelayHealth().network;
    ASSERT_EQ(health.tcpTargets.size(), 1u);
    EXPECT_TRUE(health.tcpTargets[0].connected);
    EXPECT_EQ(health.tcp.clients.size(), 1u);
    EXPECT_TRUE(WaitUntil([] { return TakeRelayHealth().network.mqtt.published == 1; }))
        << "the publisher made anew counts from nothing";
    ASSERT_TRUE(run.Stop());
}

}  // namespace
