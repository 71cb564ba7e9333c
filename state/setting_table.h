// Every value that Tavrel keeps, in one table: its name in the registry, its
// kind (which says how it is typed, stored, checked and shown), its default,
// its word and help line in tavrel-config, and when a running Tavrel puts a
// change to use. The stores, tavrel-config, the Status dialog's form and the
// records' defaults all read it; settings/setting_values.h parses and checks
// each kind in one place.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "state/baud_rates.h"

// Where the values live: HKEY_CURRENT_USER for the person's settings,
// HKEY_LOCAL_MACHINE for the install path.
inline constexpr char16_t kSettingsKey[] = u"Software\\Brenmor\\Tavrel";

enum class SettingId : std::uint8_t {
    Input,
    Baud,
    Outputs,
    Autostart,
    Reconnect,
    GpsdHandoff,
    GpsdPort,
    GpsdSocket,
    TcpPort,
    TcpAnyAddress,
    TcpAllow,
    UdpTarget,
    UdpTtl,
    UdpInterface,
    Announce,
    TcpConnect,
    MqttBroker,
    MqttTopic,
    MqttQos,
    MqttRetainRmc,
    MqttTlsCa,
    MqttCredentials,
    MqttClientId,
    MqttVersion,
    MqttKeepAlive,
    Input1,
    Input2,
    Input3,
    Input4,
    Input5,
    Input6,
    Input7,
    Input8,
    InputInit,
    OutputCom0,
    OutputCom1,
    OutputCom2,
    OutputCom3,
    OutputCom4,
    OutputCom5,
    OutputCom6,
    OutputCom7,
    OutputCom8,
    OutputCom9,
    OutputTcp,
    OutputUdp,
    InstallPath,
};

// How a value is typed and stored. Switch: on|off, a number 0 or 1 (any
// number but 0 reads as on). ComPort: a COM number 0 to `highest`.
// GpsdOutput: a COM number, or "first" (stored as no value at all). Baud: a
// rate, stored as its index in kBaudRates. Outputs: COM numbers 0 to 9 or
// "none", stored as the "Split" mask. TcpPort: 1 to `highest` or "off" (0).
// Path, Addresses (an allow list), Target ("host:port"; empty for off): text
// of one line, at most `highest` bytes. ExtraInput: an extra input's line
// ("udp 10110 name=AIS"), none when not set. Count: a number 1 to `highest`.
// Interface: a network interface's name ("eth0"), empty for any. Command: a command for a
// receiver, with escapes ("$PMTK220,1000*1F\r\n"). OutputOptions: an
// output's talk and shape ("talk=lines only=GGA,RMC"), empty for the defaults.
// Announce: auto (kAnnounceAuto, the default), on or off. Targets: "host:port"
// targets separated by commas, at most kMostTcpTargets; empty for none.
// Topic: an MQTT topic with placeholders, never empty. Qos: 0 to `highest`.
// File: a file's path, empty for none. ClientId: an MQTT client id, empty for
// one made up. MqttVersion: 4 (MQTT 3.1.1) or 5.
enum class SettingKind : std::uint8_t {
    Switch, ComPort, GpsdOutput, Baud, Outputs, TcpPort, Path, Addresses, Target, ExtraInput, Command, OutputOptions,
    Count, Interface, Announce, Targets, Topic, Qos, File, ClientId, MqttVersion
};

// When a running Tavrel puts a change to use: at once (the window's box, the
// network outputs restarted as the Status dialog's Apply does), at the next
// start of the relay, or at Tavrel's next start.
enum class SettingTakesEffect : std::uint8_t { AtOnce, AtRelayStart, AtProgramStart };

enum class SettingRoot : std::uint8_t { User, Machine };

struct SettingEntry {
    SettingId id;
    std::u16string_view registryName;
    SettingRoot root;
    SettingKind kind;
    std::uint32_t defaultNumber;      // the number kinds' default
    std::u16string_view defaultText;  // the text kinds' default
    std::uint32_t highest;            // the highest number, or the longest text in bytes
    SettingTakesEffect takesEffect;
    std::string_view word;            // tavrel-config's name for it; empty: not one of its settings
    std::string_view help;            // tavrel-config's line for it
};

// "GpsdPort" when it is not set: gpsd gets the first output.
inline constexpr std::int32_t kGpsdFirstOutput = -1;

inline constexpr std::uint32_t kHighestOutput = 9;
inline constexpr std::uint32_t kHighestComNumber = 99;
inline constexpr std::uint32_t kHighestTcpPort = 65535;
// A local socket's path: 108 bytes on Linux with its terminator.
inline constexpr std::uint32_t kLongestSocketPath = 107;
// An allow list or a target: far more than a person types.
inline constexpr std::uint32_t kLongestListText = 4096;
// The install path: 128 characters and the terminator, in bytes.
inline constexpr std::uint32_t kLongestInstallPath = 258;

// The extra inputs' rows, "Input1" to "Input8", alike but for their names.
constexpr SettingEntry ExtraInputRow(SettingId id, std::u16string_view registryName, std::string_view word)
{
    return {id, registryName, SettingRoot::User, SettingKind::ExtraInput, 0, u"", kLongestListText,
            SettingTakesEffect::AtRelayStart, word,
            "an input merged line by line beside the main one (see tavrel-config inputs), or none"};
}

// The outputs' rows: "OutputCOM0" to "OutputCOM9", "OutputTcp", "OutputUdp".
constexpr SettingEntry OutputRow(SettingId id, std::u16string_view registryName, std::string_view word)
{
    return {id, registryName, SettingRoot::User, SettingKind::OutputOptions, 0, u"", kLongestListText,
            SettingTakesEffect::AtRelayStart, word,
            "what the output's program may say to an input, and how its stream is shaped (see tavrel-config port)"};
}

// An interface's name: IFNAMSIZ less its terminator.
inline constexpr std::uint32_t kLongestInterfaceName = 15;
// "Announce" when not set: the TCP server is announced when other computers may connect to it.
inline constexpr std::uint32_t kAnnounceAuto = 2;
// The most servers the stream is sent to at once.
inline constexpr std::size_t kMostTcpTargets = 8;
// What subscribers expect: the machine, then the sentence ("nmea/boat1/GPRMC").
inline constexpr char16_t kDefaultMqttTopic[] = u"nmea/<host>/<talker><type>";

inline constexpr std::array<SettingEntry, 47> kSettingTable = [] {
    using enum SettingKind;
    using enum SettingTakesEffect;
    using enum SettingRoot;
    using Id = SettingId;
    return std::array<SettingEntry, 47>{{
    {Id::Input, u"Port", User, ComPort, 1, u"", kHighestComNumber, AtRelayStart, "input",
     "the port to read: a COM port (COM1) or a serial device (/dev/ttyUSB0), which becomes a built-in port"},
    {Id::Baud, u"Baud", User, SettingKind::Baud, 0, u"", kBaudRates.size() - 1, AtRelayStart, "baud",
     "the input's baud rate (4800, 9600, ... 256000)"},
    {Id::Outputs, u"Split", User, SettingKind::Outputs, 0, u"", kHighestOutput, AtRelayStart, "outputs",
     "the virtual ports to relay to, COM0 to COM9 (\"COM2,COM3\"), or none"},
    {Id::Autostart, u"Autostart", User, Switch, 0, u"", 1, AtOnce, "autostart",
     "relay as soon as Tavrel starts, and start it at login (on|off); also a box in the window"},
    {Id::Reconnect, u"Reconnect", User, Switch, 0, u"", 1, AtOnce, "reconnect",
     "keep the outputs and wait for an input that fails or is missing (on|off); also a box in the window"},
    {Id::GpsdHandoff, u"GpsdHandoff", User, Switch, 0, u"", 1, AtRelayStart, "gpsd",
     "hand one virtual port to gpsd as it appears, gpsd-port (on|off)"},
    {Id::GpsdPort, u"GpsdPort", User, GpsdOutput, static_cast<std::uint32_t>(kGpsdFirstOutput), u"",
     kHighestOutput, AtRelayStart, "gpsd-port", "the output that gpsd gets (COM2 ... COM9), or first: the first output"},
    {Id::GpsdSocket, u"GpsdSocket", User, Path, 0, u"/run/gpsd.sock", kLongestSocketPath, AtRelayStart,
     "gpsd-socket", "gpsd's control socket"},
    {Id::TcpPort, u"TcpPort", User, SettingKind::TcpPort, 0, u"", kHighestTcpPort, AtOnce,
     "tcp-port", "serve the stream over TCP on this port (1-65535; 10110 is NMEA's) or off"},
    {Id::TcpAnyAddress, u"TcpAnyAddress", User, Switch, 0, u"", 1, AtOnce, "tcp-any-address",
     "let other computers connect to the TCP server, not only this one (on|off)"},
    {Id::TcpAllow, u"TcpAllow", User, Addresses, 0, u"", kLongestListText, AtOnce, "tcp-allow",
     "the addresses or prefixes that may connect (\"192.168.1.0/24 fe80::/10\"); \"\" for anyone"},
    {Id::UdpTarget, u"UdpTarget", User, Target, 0, u"", kLongestListText, AtOnce, "udp-target",
     "send each chunk as a UDP datagram to host:port (broadcast and multicast addresses allowed), \"\" for off"},
    {Id::UdpTtl, u"UdpTtl", User, Count, 1, u"", 255, AtOnce, "udp-ttl",
     "how many routers a multicast target's datagrams may cross (1: this network only, up to 255)"},
    {Id::UdpInterface, u"UdpInterface", User, Interface, 0, u"", kLongestInterfaceName, AtOnce, "udp-interface",
     "the interface a multicast target's datagrams leave by (eth0), \"\" for the one the routes choose"},
    {Id::Announce, u"Announce", User, SettingKind::Announce, kAnnounceAuto, u"", kAnnounceAuto, AtOnce, "announce",
     "announce the TCP server on the network by DNS-SD (on|off), or auto: when other computers may connect"},
    {Id::TcpConnect, u"TcpConnect", User, Targets, 0, u"", kLongestListText, AtOnce, "tcp-connect",
     "send the stream to servers that listen: host:port[,host:port...], or off"},
    {Id::MqttBroker, u"MqttBroker", User, Target, 0, u"", kLongestListText, AtOnce, "mqtt-broker",
     "publish every sentence to the MQTT broker at host:port (1883; 8883 with TLS), or off"},
    {Id::MqttTopic, u"MqttTopic", User, Topic, 0, kDefaultMqttTopic, kLongestListText, AtOnce, "mqtt-topic",
     "each sentence's topic: <host>, <talker> and <type> are filled in (nmea/<host>/<talker><type>)"},
    {Id::MqttQos, u"MqttQos", User, Qos, 0, u"", 1, AtOnce, "mqtt-qos",
     "0: each sentence sent once; 1: sent until the broker has it"},
    {Id::MqttRetainRmc, u"MqttRetainRmc", User, Switch, 0, u"", 1, AtOnce, "mqtt-retain-rmc",
     "have the broker keep the last RMC sentence for subscribers that come later (on|off)"},
    {Id::MqttTlsCa, u"MqttTlsCa", User, File, 0, u"", kLongestListText, AtOnce, "mqtt-tls-ca",
     "connect to the broker by TLS, checking its certificate against this CA file, or off"},
    {Id::MqttCredentials, u"MqttCredentials", User, File, 0, u"", kLongestListText, AtOnce, "mqtt-credentials",
     "a file of two lines, user and password, readable only by you; or off"},
    {Id::MqttClientId, u"MqttClientId", User, ClientId, 0, u"", 256, AtOnce, "mqtt-client-id",
     "the client id the broker knows Tavrel by, \"\" for tavrel-<host>-<process>"},
    {Id::MqttVersion, u"MqttVersion", User, SettingKind::MqttVersion, 5, u"", 5, AtOnce, "mqtt-version",
     "the MQTT version to speak: 5 or 3.1.1"},
    {Id::MqttKeepAlive, u"MqttKeepAlive", User, Count, 30, u"", 65535, AtOnce, "mqtt-keepalive",
     "seconds between signs of life to the broker, 1 to 65535"},
    ExtraInputRow(Id::Input1, u"Input1", "input1"), ExtraInputRow(Id::Input2, u"Input2", "input2"),
    ExtraInputRow(Id::Input3, u"Input3", "input3"), ExtraInputRow(Id::Input4, u"Input4", "input4"),
    ExtraInputRow(Id::Input5, u"Input5", "input5"), ExtraInputRow(Id::Input6, u"Input6", "input6"),
    ExtraInputRow(Id::Input7, u"Input7", "input7"), ExtraInputRow(Id::Input8, u"Input8", "input8"),
    {Id::InputInit, u"InputInit", User, Command, 0, u"", kLongestListText, AtRelayStart, "input-init",
     "sent to the main input each time it is opened (\\r, \\n, \\xHH escapes), \"\" for nothing"},
    OutputRow(Id::OutputCom0, u"OutputCOM0", "output-com0"), OutputRow(Id::OutputCom1, u"OutputCOM1", "output-com1"),
    OutputRow(Id::OutputCom2, u"OutputCOM2", "output-com2"), OutputRow(Id::OutputCom3, u"OutputCOM3", "output-com3"),
    OutputRow(Id::OutputCom4, u"OutputCOM4", "output-com4"), OutputRow(Id::OutputCom5, u"OutputCOM5", "output-com5"),
    OutputRow(Id::OutputCom6, u"OutputCOM6", "output-com6"), OutputRow(Id::OutputCom7, u"OutputCOM7", "output-com7"),
    OutputRow(Id::OutputCom8, u"OutputCOM8", "output-com8"), OutputRow(Id::OutputCom9, u"OutputCOM9", "output-com9"),
    OutputRow(Id::OutputTcp, u"OutputTcp", "output-tcp"), OutputRow(Id::OutputUdp, u"OutputUdp", "output-udp"),
    {Id::InstallPath, u"InstallPath", Machine, Path, 0, u"", kLongestInstallPath, AtProgramStart, "",
     "where tavrel-install put the driver module"},
    }};
}();

constexpr const SettingEntry& Setting(SettingId id)
{
    return kSettingTable[static_cast<std::size_t>(id)];
}

// The row of extra input `number`, 1 to 8.
constexpr SettingId ExtraInputSetting(std::size_t number)
{
    return static_cast<SettingId>(static_cast<std::size_t>(SettingId::Input1) + number - 1);
}

// The row of virtual output COM`number`, 0 to 9.
constexpr SettingId OutputSetting(std::size_t number)
{
    return static_cast<SettingId>(static_cast<std::size_t>(SettingId::OutputCom0) + number);
}

// The table is in the order of SettingId, so that Setting() is an index.
static_assert([] {
    for (std::size_t index = 0; index < kSettingTable.size(); ++index) {
        if (static_cast<std::size_t>(kSettingTable[index].id) != index) {
            return false;
        }
    }
    return true;
}());

// A value's name as the registry calls it, terminated, for the Win32 calls.
constexpr const char16_t* RegistryName(SettingId id)
{
    return Setting(id).registryName.data();
}
