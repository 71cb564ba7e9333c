// tavrel-config as a person at a shell runs it: it shows what Tavrel will
// use, stores a change where Tavrel reads it, and refuses a value that is
// not one without changing anything.
#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "device_processes.h"
#include "testkit/loopback.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

class ConfigToolTest : public DeviceProcessTest {
protected:
    struct Result {
        std::optional<int> exitCode;
        std::string output;
        std::string errors;
    };

    Result Config(const std::vector<std::string>& arguments)
    {
        ChildProcess config = Run(TAVREL_CONFIG_PATH, "config" + std::to_string(++runs_), arguments);
        const std::optional<int> exitCode = config.WaitExit(60s);
        return {exitCode, config.Output(), config.Errors()};
    }

    int runs_ = 0;
};

const char kFreshDevice[] =
    "input            COM1\n"
    "baud             110\n"
    "outputs          none\n"
    "autostart        off\n"
    "reconnect        off\n"
    "gpsd             off\n"
    "gpsd-port        first\n"
    "gpsd-socket      /run/gpsd.sock\n"
    "tcp-port         off\n"
    "tcp-any-address  off\n"
    "tcp-allow        anyone\n"
    "udp-target       off\n"
    "udp-ttl          1\n"
    "udp-interface    any\n"
    "announce         auto\n"
    "tcp-connect      off\n"
    "mqtt-broker      off\n"
    "mqtt-topic       nmea/<host>/<talker><type>\n"
    "mqtt-qos         0\n"
    "mqtt-retain-rmc  off\n"
    "mqtt-tls-ca      off\n"
    "mqtt-credentials off\n"
    "mqtt-client-id   automatic\n"
    "mqtt-version     5\n"
    "mqtt-keepalive   30\n";

TEST_F(ConfigToolTest, AFreshDeviceShowsWhatTavrelUsesWithoutSettings)
{
    const Result shown = Config({});
    EXPECT_EQ(shown.exitCode, 0) << shown.errors;
    EXPECT_EQ(shown.output, kFreshDevice);
    EXPECT_EQ(Config({"list"}).output, kFreshDevice);
    EXPECT_NE(Config({"list", "--json"}).output.find(
                  R"("tcp-port":{"value":"off","stored":false,"default":"off","takesEffect":"now",)"),
              std::string::npos);
}

TEST_F(ConfigToolTest, AChangeIsStoredWhereTavrelReadsIt)
{
    EXPECT_EQ(Config({"gpsd", "on"}).exitCode, 0);
    EXPECT_EQ(Config({"gpsd-socket", "/run/gpsd-2.sock"}).exitCode, 0);
    EXPECT_EQ(Config({"reconnect", "on"}).exitCode, 0);

    EXPECT_EQ(SavedNumber(u"GpsdHandoff"), 1u);
    EXPECT_EQ(SavedNumber(u"Reconnect"), 1u);
    EXPECT_EQ(Config({"gpsd-socket"}).output, "gpsd-socket      /run/gpsd-2.sock\n");

    EXPECT_EQ(Config({"tcp-port", "10110"}).exitCode, 0);
    EXPECT_EQ(Config({"tcp-any-address", "on"}).exitCode, 0);
    EXPECT_EQ(Config({"tcp-allow", "192.168.1.0/24, fe80::/10"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"TcpPort"), 10110u);
    EXPECT_EQ(SavedNumber(u"TcpAnyAddress"), 1u);
    EXPECT_EQ(Config({"tcp-allow"}).output, "tcp-allow        192.168.1.0/24, fe80::/10\n");
    EXPECT_EQ(Config({"tcp-port", "off"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"TcpPort"), 0u);
    EXPECT_EQ(Config({"tcp-allow", ""}).exitCode, 0);
    EXPECT_EQ(Config({"tcp-allow"}).output, "tcp-allow        anyone\n");
    EXPECT_EQ(Config({"udp-target", "192.168.1.255:10110"}).exitCode, 0);
    EXPECT_EQ(Config({"udp-target"}).output, "udp-target       192.168.1.255:10110\n");
    EXPECT_EQ(Config({"udp-ttl", "4"}).exitCode, 0);
    EXPECT_EQ(Config({"udp-interface", "lo"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"UdpTtl"), 4u);
    EXPECT_EQ(Config({"udp-interface"}).output, "udp-interface    lo\n");

    // Reaching past this machine: several servers in one value; "off" and "auto" as no value.
    EXPECT_EQ(Config({"tcp-connect", "plotter.local:10110,[fe80::1]:2000"}).exitCode, 0);
    EXPECT_EQ(Config({"tcp-connect"}).output, "tcp-connect      plotter.local:10110,[fe80::1]:2000\n");
    EXPECT_EQ(Config({"announce", "on"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"Announce"), 1u);
    EXPECT_EQ(Config({"announce", "auto"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"Announce"), std::nullopt);
    EXPECT_EQ(Config({"mqtt-broker", "broker.local:8883"}).exitCode, 0);
    EXPECT_EQ(Config({"mqtt-version", "3.1.1"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"MqttVersion"), 4u);
    EXPECT_EQ(Config({"mqtt-version"}).output, "mqtt-version     3.1.1\n");
    EXPECT_EQ(Config({"mqtt-broker", "off"}).exitCode, 0);
    EXPECT_EQ(Config({"mqtt-broker"}).output, "mqtt-broker      off\n");

    // A password file that others may read is refused at once, with the fix.
    TempFolder folder;
    const std::filesystem::path login = folder.path() / "mqtt-login";
    WriteWholeFile(login, "boat\nsecret\n");
    ::chmod(login.c_str(), 0644);
    const Result open = Config({"mqtt-credentials", login.string()});
    EXPECT_EQ(open.exitCode, 2);
    EXPECT_NE(open.errors.find("chmod 600 " + login.string()), std::string::npos) << open.errors;
    ::chmod(login.c_str(), 0600);
    EXPECT_EQ(Config({"mqtt-credentials", login.string()}).exitCode, 0);

    EXPECT_EQ(Config({"gpsd", "off"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"GpsdHandoff"), 0u);

    // gpsd's port: a COM number, or the first output again (no value at all).
    EXPECT_EQ(Config({"gpsd-port", "com4"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"GpsdPort"), 4u);
    EXPECT_EQ(Config({"gpsd-port"}).output, "gpsd-port        COM4\n");
    EXPECT_EQ(Config({"gpsd-port", "first"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"GpsdPort"), std::nullopt);
}

TEST_F(ConfigToolTest, WhatIsNotAValueOrASettingIsRefusedAndNothingChanges)
{
    for (const std::vector<std::string>& wrong :
         std::vector<std::vector<std::string>>{{"gpsd", "yes"},
                                               {"gpsd-socket", ""},
                                               {"gpsd-socket", "/run/" + std::string(120, 'x')},
                                               {"gpsd-socket", "/run/a\nb"},
                                               {"tcp-port", "0"},
                                               {"tcp-port", "65536"},
                                               {"tcp-port", "-1"},
                                               {"tcp-port", "10110x"},
                                               {"tcp-allow", "192.168.1.0/33"},
                                               {"tcp-allow", "192.168.1.0/24 nonsense"},
                                               {"udp-target", "192.168.1.255"},
                                               {"udp-target", "fe80::1:10110"},
                                               {"udp-ttl", "0"},
                                               {"udp-ttl", "256"},
                                               {"udp-interface", "eth 0"},
                                               {"udp-interface", std::string(16, 'e')},
                                               {"tcp-connect", "a:1,b:2,c:3,d:4,e:5,f:6,g:7,h:8,i:9"},
                                               {"tcp-connect", "plotter.local"},
                                               {"mqtt-topic", "nmea/#"},
                                               {"mqtt-topic", ""},
                                               {"mqtt-qos", "2"},
                                               {"mqtt-version", "4"},
                                               {"mqtt-tls-ca", "ca.pem"},
                                               {"announce", "yes"},
                                               {"input", "COM100"},
                                               {"input", "/dev/no-such-receiver"},
                                               {"input", "ttyUSB0"},
                                               {"baud", "4801"},
                                               {"baud", "5"},
                                               {"outputs", "COM10"},
                                               {"outputs", "COM2,printer"},
                                               {"outputs", ""},
                                               {"gpsd-port", "COM10"},
                                               {"gpsd-port", "last"},
                                               {"colour", "blue"},
                                               {"gpsd", "on", "now"}}) {
        const Result refused = Config(wrong);
        EXPECT_EQ(refused.exitCode, 2) << wrong[0];
        EXPECT_FALSE(refused.errors.empty()) << wrong[0];
    }
    EXPECT_EQ(SavedNumber(u"GpsdHandoff"), std::nullopt);
    EXPECT_EQ(SavedNumber(u"TcpPort"), std::nullopt);
    EXPECT_EQ(SavedNumber(u"Port"), std::nullopt);
    EXPECT_EQ(SavedNumber(u"Split"), std::nullopt);
    EXPECT_NE(Config({"tcp-allow", "10.0.0.0/8 nonsense"}).errors.find("nonsense"), std::string::npos);
    EXPECT_EQ(Config({}).output, kFreshDevice);
}

// The extra inputs are added in the words a person types, kept in order
// without gaps, and a removal moves the later ones (and who they stand by
// for) down; what cannot be an input, or a removal that would leave a
// standby without its input, changes nothing.
TEST_F(ConfigToolTest, ExtraInputsAreAddedListedAndRemovedByTheirNumbers)
{
    EXPECT_EQ(Config({"inputs", "add", "serial", "/dev/serial/by-id/usb-x if00", "38400", "name=AIS rx"}).exitCode, 0);
    EXPECT_EQ(Config({"inputs", "add", "udp", "10110", "group=239.192.0.1", "name=wind"}).exitCode, 0);
    EXPECT_EQ(Config({"inputs", "add", "tcp", "[::1]:2000", "standby-for=2", "standby-after=5"}).exitCode, 0);
    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"inputs", "add", "serial", "COM1"},            // the main input
             {"inputs", "add", "tcp", "localhost"},          // no port
             {"inputs", "add", "udp", "10110", "group"},
             {"inputs", "add", "serial", "COM4", "4801"},
             {"inputs", "add", "udp", "7", "standby-for=5"},  // no input 5
             {"inputs", "remove", "2"},                      // input 3 stands by for it
             {"inputs", "remove", "4"}}) {
        const Result refused = Config(wrong);
        EXPECT_EQ(refused.exitCode, 2) << wrong.back();
        EXPECT_FALSE(refused.errors.empty()) << wrong.back();
    }
    EXPECT_EQ(Config({"inputs", "remove", "1"}).exitCode, 0);
    EXPECT_EQ(Config({"inputs"}).output,
              "0  COM1 110 (the main input)\n"
              "1  udp 10110 group=239.192.0.1 name=wind\n"
              "2  tcp [::1]:2000 standby-for=1 standby-after=5\n");
    EXPECT_EQ(Config({"input3"}).output, "input3           none\n");
    EXPECT_EQ(Config({"input2"}).output, "input2           tcp [::1]:2000 standby-for=1 standby-after=5\n");
}

// An output's talk and shape are changed one command at a time, each kept
// beside the others, stored as one line that the relay reads; the start-up
// commands keep their bytes through the escapes.
TEST_F(ConfigToolTest, OutputsAreShapedAndInputsGetStartUpCommandsFromTheShell)
{
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"COM2", "talk", "lines", "to=1"}, {"COM2", "only", "GGA,RMC,!AIVDM"}, {"COM2", "checksum", "on"},
             {"COM2", "talker", "GN:GP"}, {"COM2", "every", "RMC", "1000"}, {"COM2", "every", "GSV", "5000"},
             {"COM2", "every", "RMC", "off"}, {"tcp", "deny", "$PGRM*"}, {"udp", "talk", "raw"}}) {
        std::vector<std::string> words{"port"};
        words.insert(words.end(), command.begin(), command.end());
        const Result changed = Config(words);
        EXPECT_EQ(changed.exitCode, 0) << changed.errors;
    }
    EXPECT_EQ(Config({"output-com2"}).output,
              "output-com2      talk=lines to=1 only=GGA,RMC,!AIVDM checksum=on talker=GN:GP every=GSV:5000\n");
    EXPECT_EQ(Config({"port", "tcp"}).output, "tcp  deny=$PGRM*\n");
    EXPECT_EQ(Config({"port", "udp", "talk", "off"}).exitCode, 0);
    EXPECT_EQ(Config({"port", "udp"}).output, "udp  transparent, talk off\n");
    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"port", "COM2", "talk", "lines", "to=9"}, {"port", "COM2", "only", "GG A"},
             {"port", "COM2", "talker", "GNX:GP"}, {"port", "COM2", "every", "RMC", "0"},
             {"port", "COM12", "shape", "off"}, {"inputs", "init", "0", "\\q"}, {"inputs", "init", "3", "x"}}) {
        EXPECT_NE(Config(wrong).exitCode, 0) << wrong[2];
    }
    EXPECT_EQ(Config({"port", "COM2", "shape", "off"}).exitCode, 0);
    EXPECT_EQ(Config({"port", "COM2"}).output, "COM2  talk=lines to=1\n");

    EXPECT_EQ(Config({"inputs", "init", "0", "$PMTK220,200*2C\\r\\n"}).exitCode, 0);
    EXPECT_EQ(Config({"inputs", "add", "tcp", "[::1]:2000"}).exitCode, 0);
    // COM2 talks to input 1, which therefore stays until COM2 talks elsewhere.
    const Result refused = Config({"inputs", "remove", "1"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.errors.find("COM2 talks to input 1"), std::string::npos) << refused.errors;
    EXPECT_EQ(Config({"inputs", "init", "1", "\\xB5\\x62 \\\\"}).exitCode, 0);
    EXPECT_EQ(Config({"inputs"}).output,
              "0  COM1 110 init=$PMTK220,200*2C\\r\\n (the main input)\n"
              "1  tcp [::1]:2000 \"init=\\\\xB5b \\\\\\\\\"\n");
}

// A machine without a desktop is set up from the shell alone: the input (a
// serial device becomes a built-in port, the same one each time), its rate,
// the outputs and Autostart, stored as the window stores them; an output that
// is the input is refused either way round.
TEST_F(ConfigToolTest, TheWindowsOwnChoicesAreSetFromTheShell)
{
    const Result input = Config({"input", gps().slavePath()});
    ASSERT_EQ(input.exitCode, 0) << input.errors;
    const std::optional<DWORD> port = SavedNumber(u"Port");
    ASSERT_TRUE(port);
    EXPECT_LE(*port, 9u);
    EXPECT_EQ(Config({"input", gps().slavePath()}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"Port"), port) << "the same device keeps its port";
    EXPECT_EQ(Config({"input"}).output, "input            COM" + std::to_string(*port) + "\n");

    EXPECT_EQ(Config({"baud", "4800"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"Baud"), 5u);
    EXPECT_EQ(Config({"outputs", "com2, COM3:"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"Split"), 24u);
    EXPECT_EQ(Config({"outputs"}).output, "outputs          COM2 COM3\n");
    EXPECT_EQ(Config({"autostart", "on"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"Autostart"), 1u);

    const Result overlap = Config({"outputs", "COM" + std::to_string(*port)});
    EXPECT_EQ(overlap.exitCode, 2);
    EXPECT_NE(overlap.errors.find("is the input"), std::string::npos) << overlap.errors;
    const Result onAnOutput = Config({"input", "COM3"});
    EXPECT_EQ(onAnOutput.exitCode, 2);
    EXPECT_NE(onAnOutput.errors.find("is one of the outputs"), std::string::npos) << onAnOutput.errors;
    EXPECT_EQ(SavedNumber(u"Split"), 24u);
    EXPECT_EQ(SavedNumber(u"Port"), port);

    EXPECT_EQ(Config({"input", "COM7"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"Port"), 7u);
    EXPECT_EQ(Config({"outputs", "none"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"Split"), 0u);
}

// What tavrel-config stores while Tavrel relays reaches the running Tavrel
// (its TCP server moves at once) and is not lost when Tavrel ends and saves
// its window's choices: the next start relays with it.
TEST_F(ConfigToolTest, WhatItChangesWhileTavrelRunsIsUsedAndHoldsAfterTavrelEnds)
{
    Install();
    PrepareLastRun(1, std::nullopt, {2, 3, 4, 5});   // host ports moved off all four
    const std::uint16_t tcpPort = FreeLoopbackPort();
    {
        ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program");
        ASSERT_TRUE(WaitForLinks(SavedOutputLinks())) << program.Errors();
        for (const std::vector<std::string>& change : std::vector<std::vector<std::string>>{
                 {"reconnect", "on"}, {"outputs", "COM3,COM4"}, {"set", "tcp-port", std::to_string(tcpPort)}}) {
            EXPECT_EQ(Config(change).exitCode, 0) << change[0];
        }
        int client = -1;
        EXPECT_TRUE(WaitForCondition([&] { return (client = ConnectLoopback(tcpPort)) >= 0; }))
            << "nothing listens on " << tcpPort;
        ::close(client);
        program.Signal(SIGTERM);
        ASSERT_TRUE(program.WaitExit(30s).has_value()) << program.Errors();
    }
    EXPECT_EQ(SavedNumber(u"Reconnect"), 1u);
    EXPECT_EQ(SavedNumber(u"Split"), 48u);   // COM3 and COM4
    EXPECT_EQ(SavedNumber(u"TcpPort"), tcpPort);

    ChildProcess again = Run(TAVREL_PROGRAM_PATH, "again");
    EXPECT_TRUE(WaitForLinks({PortLink(3), PortLink(4)})) << again.Errors();
    again.Signal(SIGTERM);
    EXPECT_TRUE(again.WaitExit(30s).has_value());
}

}  // namespace
