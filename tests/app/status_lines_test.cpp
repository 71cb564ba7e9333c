// The Status dialog's lines for what the relay does: an idle relay says so;
// a run shows its input, every virtual port, the TCP server with each client,
// and the UDP output, with the counts it was given; failures say why.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/status_lines.h"

namespace {

using namespace std::chrono_literals;

const auto kNow = std::chrono::system_clock::time_point(1'800'000'000s);

RelayHealth Relaying()
{
    RelayHealth health;
    health.input.relaying = true;
    health.input.port = 1;
    health.input.baudRate = 115200;
    health.input.bytesRead = 123456789012ULL;   // past what 32 bits hold
    health.input.readFailures = 2;
    health.input.sinceLastByte = 2500ms;
    health.outputs.push_back(OutputHealth{2, 4000, 0, true, "/ports/COM2"});
    health.outputs.push_back(OutputHealth{5, 3000, 1000, false, "/ports/COM5"});
    return health;
}

TEST(StatusLines, AnIdleRelaySaysSoAndNothingElse)
{
    RelayHealth idle;
    idle.network.tcpPort = 10110;   // what a stopped run left is not shown
    EXPECT_EQ(StatusLines(idle, kNow), std::vector<std::u16string>{u"Idle: not relaying"});
}

TEST(StatusLines, ARunShowsItsInputAndEveryPortWithItsCounts)
{
    const auto lines = StatusLines(Relaying(), kNow);
    const std::vector<std::u16string> expected{
        u"Input COM1 at 115200 baud",
        u"  123456789012 bytes read, 2 read failures",
        u"  last byte 2 s ago",
        u"COM2: 4000 relayed, 0 dropped",
        u"  a program has it open",
        u"COM5: 3000 relayed, 1000 dropped",
        u"  no program has it open",
        u"TCP server off",
        u"UDP output off",
    };
    EXPECT_EQ(lines, expected);
}

TEST(StatusLines, TheInputsWaitAndItsLastByteAreToldApart)
{
    RelayHealth health = Relaying();
    health.input.sinceLastByte.reset();
    health.input.waitingForReceiver = true;
    auto lines = StatusLines(health, kNow);
    EXPECT_EQ(lines[2], u"  waiting for the receiver");
    EXPECT_EQ(lines[3], u"  no byte yet");

    health.input.waitingForReceiver = false;
    health.input.sinceLastByte = 999ms;
    health.input.bytesRead = 1;
    health.input.readFailures = 1;
    lines = StatusLines(health, kNow);
    EXPECT_EQ(lines[1], u"  1 byte read, 1 read failure");
    EXPECT_EQ(lines[2], u"  last byte just now");
}

TEST(StatusLines, TheTcpServerShowsWhereItListensAndEachClient)
{
    RelayHealth health = Relaying();
    health.outputs.clear();
    health.network.tcpPort = 10110;
    health.network.tcp.clientsRefused = 3;
    health.network.tcp.clientsCutOff = 1;
    health.network.tcp.clients.push_back({"127.0.0.1:40112", kNow - 75s, 9000, 0});
    health.network.tcp.clients.push_back({"[::1]:40200", kNow - 2h - 5min - 9s, 8000, 512});
    health.network.udpTarget = "192.168.1.255:10110";
    health.network.udpDatagramsSent = 40;
    health.network.udpSendFailures = 1;

    const auto lines = StatusLines(health, kNow);
    const std::vector<std::u16string> network(lines.begin() + 3, lines.end());
    const std::vector<std::u16string> expected{
        u"TCP port 10110, this computer only",
        u"  2 clients, 3 refused, 1 cut off",
        u"  127.0.0.1:40112 for 1 min 15 s",
        u"    9000 sent, 0 dropped",
        u"  [::1]:40200 for 2 h 05 min",
        u"    8000 sent, 512 dropped",
        u"UDP to 192.168.1.255:10110",
        u"  40 datagrams, 1 failure",
    };
    EXPECT_EQ(network, expected);

    health.network.tcpAnyAddress = true;
    health.network.tcp.clients.pop_back();
    health.network.udpDatagramsSent = 1;
    health.network.udpSendFailures = 0;
    const auto one = StatusLines(health, kNow);
    EXPECT_EQ(one[3], u"TCP port 10110, all addresses");
    EXPECT_EQ(one[4], u"  1 client, 3 refused, 1 cut off");
    EXPECT_EQ(one.back(), u"  1 datagram, 0 failures");
}

TEST(StatusLines, AnOutputThatCouldNotStartSaysWhy)
{
    RelayHealth health = Relaying();
    health.outputs.clear();
    health.network.tcpFailure = "TCP server: cannot listen on 127.0.0.1 port 10110: Address already in use";
    health.network.udpFailure = "no such host: nowhere.invalid";
    const auto lines = StatusLines(health, kNow);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], u"TCP server: cannot listen on 127.0.0.1 port 10110: Address already in use");
    EXPECT_EQ(lines[4], u"UDP output: no such host: nowhere.invalid");
}

TEST(StatusLines, DurationsReadInTheUnitsThatMatter)
{
    EXPECT_EQ(DurationText(0s), u"0 s");
    EXPECT_EQ(DurationText(59s), u"59 s");
    EXPECT_EQ(DurationText(60s), u"1 min 0 s");
    EXPECT_EQ(DurationText(3599s), u"59 min 59 s");
    EXPECT_EQ(DurationText(3600s), u"1 h 00 min");
    EXPECT_EQ(DurationText(-5s), u"0 s");   // a client whose clock stepped back
}

}  // namespace
