// The relay's network outputs on real parts: a pseudo-terminal as the input,
// the virtual port driver, the settings in the device's registry, and real
// TCP clients on the loopback address. The run's health is read as the
// Status dialog and tavrel-status read it.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "platform/debug_capture.h"
#include "platform/strings.h"
#include "relay/relay_health.h"
#include "relay/relay_run.h"
#include "settings/network_settings_store.h"
#include "state/app_settings.h"
#include "state/port_lists.h"
#include "support/test_device.h"
#include "testkit/loopback.h"
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
        std::string failure;
        ASSERT_TRUE(SaveNetworkSettings(settings, failure)) << failure;
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

}  // namespace
