// The relay's health as tavrel-status prints it.
#include <gtest/gtest.h>

#include "status/health_report.h"

namespace {

using namespace std::chrono;

// A run of COM1 at 4800 baud and an AIS receiver over UDP to two ports, one
// handed to gpsd, with a TCP server of two clients, announced, a UDP output,
// a server the stream is sent to and an MQTT broker that is away.
RelayHealth BusyRun()
{
    RelayHealth health;
    health.input = InputHealth{true, 1, 4800, 123456, 2, milliseconds(300), false, ""};
    health.inputs = {InputStatus{"COM1", "serial", "/dev/serial/by-id/usb-u-blox-if00", 1, InputState::Relaying,
                                 milliseconds(60000), 123456, 1800, 0, milliseconds(300), "1546:01a7 u-blox 7", {}},
                     InputStatus{"AIS", "serial", "/dev/ttyUSB1", std::nullopt, InputState::Lost, milliseconds(2500), 5000, 99, 1,
                                 std::nullopt, "", {"/dev/ttyUSB1 does not exist"}}};
    // COM2 is shaped for its program, which talks to the receiver.
    health.outputs = {OutputHealth{2, 123456, 0, true, "/home/me/.local/share/tavrel/ports/COM2", true,
                                   OutputWork{true, 5, 1, 7, TalkMode::Lines, 120, 3, 0}},
                      OutputHealth{10, 120000, 3456, false, "", false}};
    const auto since = sys_days(year(2026) / 12 / 8) + hours(21) + minutes(59) + seconds(24);
    health.network.tcpPort = 10110;
    health.network.tcp.clients = {tavrel::network::ClientHealth{"127.0.0.1:40112", since, 1000, 0},
                                  tavrel::network::ClientHealth{"[::1]:40200", since + seconds(61), 999, 17}};
    health.network.tcp.clientsRefused = 1;
    health.network.udpTarget = "192.168.1.255:10110";
    health.network.udpDatagramsSent = 40;
    health.network.udpBytesSent = 3000;
    health.network.announcement = AnnouncementHealth{"announced", "Tavrel on boat1", ""};
    health.network.tcpTargets = {TcpTargetHealth{"plotter.local:10110", true, "192.168.1.5:10110", "", 5000, 12}};
    health.network.mqtt = MqttHealth{"broker.local:1883", "connection refused", false, 250, 4};
    return health;
}

#define kTransparent \
    R"({"shaped":false,"filtered":0,"badChecksums":0,"decimated":0,"talk":"off","bytesTalked":0,"linesTalked":0,)" \
    R"("talkBytesDropped":0})"

TEST(HealthJson, NamesEveryFieldAndGivesNumbersAsNumbers)
{
    EXPECT_EQ(HealthJson(BusyRun()),
              R"({"input":{"relaying":true,"port":1,"baudRate":4800,"bytesRead":123456,"readFailures":2,)"
              R"("msSinceLastByte":300,"waitingForReceiver":false,"notTakenBecause":null},)"
              R"("inputs":[{"name":"COM1","kind":"serial","state":"relaying","msInState":60000,"bytes":123456,)"
              R"("lines":1800,"torn":0,"msSinceLastByte":300,"path":"/dev/serial/by-id/usb-u-blox-if00",)"
              R"("identity":"1546:01a7 u-blox 7","inTheWay":[]},{"name":"AIS","kind":"serial","state":"lost",)"
              R"("msInState":2500,"bytes":5000,"lines":99,"torn":1,"msSinceLastByte":null,"path":"/dev/ttyUSB1",)"
              R"("identity":null,"inTheWay":["/dev/ttyUSB1 does not exist"]}],)"
              R"("outputs":[{"port":2,"bytesRelayed":123456,"bytesDropped":0,"programHasItOpen":true,"gpsd":true,)"
              R"("path":"/home/me/.local/share/tavrel/ports/COM2","work":{"shaped":true,"filtered":5,"badChecksums":1,)"
              R"("decimated":7,"talk":"lines","bytesTalked":120,"linesTalked":3,"talkBytesDropped":0}},)"
              R"({"port":10,"bytesRelayed":120000,"bytesDropped":3456,"programHasItOpen":false,"gpsd":false,)"
              R"("path":null,"work":)" kTransparent R"(}],)"
              R"("network":{"tcp":{"port":10110,"anyAddress":false,"failure":null,"clients":[)"
              R"({"address":"127.0.0.1:40112","connectedSince":"2026-12-08T21:59:24Z","bytesSent":1000,"bytesDropped":0},)"
              R"({"address":"[::1]:40200","connectedSince":"2026-12-08T22:00:25Z","bytesSent":999,"bytesDropped":17}],)"
              R"("clientsRefused":1,"clientsCutOff":0,"work":)" kTransparent R"(},)"
              R"("udp":{"target":"192.168.1.255:10110","failure":null,"datagramsSent":40,"bytesSent":3000,"sendFailures":0,)"
              R"("work":)" kTransparent R"(},"announcement":{"state":"announced","name":"Tavrel on boat1","failure":null}},)"
              R"("tcpConnect":[{"target":"plotter.local:10110","connected":true,"sent":5000,"dropped":12,)"
              R"("address":"192.168.1.5:10110","reason":null}],)"
              R"("mqtt":{"broker":"broker.local:1883","connected":false,"published":250,"dropped":4,)"
              R"("failure":"connection refused"}})"
              "\n");
}

TEST(HealthJson, AnIdleTavrelHasNoOutputsAndNullsForWhatItHasNot)
{
    EXPECT_EQ(HealthJson(RelayHealth{}),
              R"({"input":{"relaying":false,"port":0,"baudRate":0,"bytesRead":0,"readFailures":0,)"
              R"("msSinceLastByte":null,"waitingForReceiver":false,"notTakenBecause":null},"inputs":[],"outputs":[],)"
              R"("network":{"tcp":{"port":null,"anyAddress":false,"failure":null,"clients":[],"clientsRefused":0,)"
              R"("clientsCutOff":0,"work":)" kTransparent R"(},"udp":{"target":null,"failure":null,"datagramsSent":0,)"
              R"("bytesSent":0,"sendFailures":0,"work":)" kTransparent R"(},"announcement":null},"tcpConnect":[],"mqtt":null})"
              "\n");
}

TEST(HealthJson, TextsAreEscapedAndAlwaysValidUtf8)
{
    RelayHealth health;
    health.input.relaying = true;
    health.input.bytesRead = 18446744073709551615ull;
    // Quote, backslash, line end, tab, a control byte, UTF-8 kept as it is
    // (é, a 4-byte emoji), and bytes that are no UTF-8 (a lone 0xFF, a cut
    // sequence, an overlong '/').
    health.outputs = {
        OutputHealth{3, 0, 0, false, "a\"b\\c\nd\te\x01 \xC3\xA9 \xF0\x9F\x98\x80 \xFF \xE2\x82 \xC0\xAF", false}};
    health.network.tcpFailure = "port 10110 is in use";
    const std::string json = HealthJson(health);
    EXPECT_NE(json.find(R"("path":"a\"b\\c\nd\te\u0001 )"
                        "\xC3\xA9 \xF0\x9F\x98\x80"
                        R"( \ufffd \ufffd\ufffd \ufffd\ufffd","work")"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find(R"("bytesRead":18446744073709551615,)"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("failure":"port 10110 is in use")"), std::string::npos) << json;
}

TEST(HealthTable, ShowsTheInputThePortsAndTheNetworkInAlignedColumns)
{
    EXPECT_EQ(HealthTable(BusyRun()),
              "Input   COM1 at 4800 baud\n"
              "        123456 bytes read, 2 read failures, last byte 0.3 s ago\n"
              "\n"
              "Input   Kind    State     Since       Bytes   Lines  Torn  Last byte\n"
              "0 COM1  serial  relaying  60.0 s ago  123456  1800   0     0.3 s ago\n"
              "1 AIS   serial  lost      2.5 s ago   5000    99     1     -\n"
              "0 is 1546:01a7 u-blox 7\n"
              "1 in the way: /dev/ttyUSB1 does not exist\n"
              "\n"
              "Output       Read by    Relayed  Dropped  Path\n"
              "COM2 (gpsd)  a program  123456   0        /home/me/.local/share/tavrel/ports/COM2\n"
              "COM10        nobody     120000   3456     -\n"
              "COM2    shaped: 5 filtered, 1 bad checksum, 7 decimated\n"
              "COM2    talks (lines): 120 bytes in 3 lines, 0 bytes dropped\n"
              "\n"
              "TCP     port 10110 for this computer only, 2 clients, 1 refused, 0 cut off\n"
              "Client           Connected since (UTC)  Sent  Dropped\n"
              "127.0.0.1:40112  2026-12-08 21:59:24    1000  0\n"
              "[::1]:40200      2026-12-08 22:00:25    999   17\n"
              "\n"
              "DNS-SD  announced as \"Tavrel on boat1\"\n"
              "\n"
              "UDP     to 192.168.1.255:10110: 40 datagrams, 3000 bytes, 0 send failures\n"
              "\n"
              "Sent to              State                           Sent  Dropped\n"
              "plotter.local:10110  connected to 192.168.1.5:10110  5000  12\n"
              "\n"
              "MQTT    broker broker.local:1883 not connected, 250 sentences published, 4 dropped\n"
              "        connection refused\n");
}

TEST(HealthTable, SaysWhatIsNotRunningAndWhy)
{
    EXPECT_EQ(HealthTable(RelayHealth{}), "Input   not relaying\n");

    RelayHealth waiting;
    waiting.input = InputHealth{true, 4, 9600, 1, 1, std::nullopt, true, "another USB device has its name"};
    waiting.network.tcpFailure = "port 10110 is in use";
    waiting.network.udpTarget = "nowhere:1";
    waiting.network.udpFailure = "cannot resolve \"nowhere\"";
    EXPECT_EQ(HealthTable(waiting),
              "Input   COM4 at 9600 baud, waiting for the receiver\n"
              "        not taken: another USB device has its name\n"
              "        1 byte read, 1 read failure, no byte yet\n"
              "\n"
              "TCP     not serving: port 10110 is in use\n"
              "\n"
              "UDP     not sending: cannot resolve \"nowhere\"\n");
}

TEST(HealthTable, ControlCharactersInAPathCannotBreakTheLines)
{
    RelayHealth health;
    health.input.relaying = true;
    health.outputs = {OutputHealth{2, 1, 0, true, "/tmp/a\nb\x1b[2Jc", false}};
    const std::string table = HealthTable(health);
    EXPECT_NE(table.find("/tmp/a?b?[2Jc\n"), std::string::npos) << table;
    EXPECT_EQ(table.find('\x1b'), std::string::npos);
}

}  // namespace
