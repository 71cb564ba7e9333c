// The network outputs' settings. They are read from the registry at each start
// of the network outputs: the relay's start, and a change stored by the Status
// dialog or by tavrel-config, which restarts them.
#pragma once

#include <cstdint>
#include <string>

#include "state/setting_table.h"

// The port the Status dialog offers when the server is turned on: the one
// navigation programs expect NMEA 0183 on.
inline constexpr std::uint32_t kNmeaTcpPort = 10110;

// Publishing each sentence to an MQTT broker.
struct MqttSettings {
    std::u16string broker;   // "host:port"; empty: no publishing
    std::u16string topic{Setting(SettingId::MqttTopic).defaultText};
    std::uint32_t qos = Setting(SettingId::MqttQos).defaultNumber;
    std::uint32_t retainRmc = Setting(SettingId::MqttRetainRmc).defaultNumber;
    std::u16string tlsCa;        // a CA file: TLS; empty: plain TCP
    std::u16string credentials;  // a file of two lines, user and password; empty: none
    std::u16string clientId;     // empty: one made up
    std::uint32_t version = Setting(SettingId::MqttVersion).defaultNumber;   // 4 (3.1.1) or 5
    std::uint32_t keepAlive = Setting(SettingId::MqttKeepAlive).defaultNumber;   // seconds

    bool operator==(const MqttSettings&) const = default;
};

struct NetworkSettings {
    std::uint32_t tcpPort = Setting(SettingId::TcpPort).defaultNumber;   // 0 no TCP server, else its port
    std::uint32_t tcpAnyAddress = Setting(SettingId::TcpAnyAddress).defaultNumber;   // 0 loopback only, else any
    std::u16string tcpAllow{Setting(SettingId::TcpAllow).defaultText};     // addresses or prefixes; empty: anyone
    std::u16string udpTarget{Setting(SettingId::UdpTarget).defaultText};   // "host:port"; empty: no UDP output
    // For a multicast group as the target: how many routers its datagrams
    // may cross, and the interface they leave by (empty: the routes' choice).
    std::uint32_t udpTtl = Setting(SettingId::UdpTtl).defaultNumber;
    std::u16string udpInterface{Setting(SettingId::UdpInterface).defaultText};
    // Whether the TCP server is announced by DNS-SD: 0 off, 1 on, kAnnounceAuto
    // when other computers may connect to it.
    std::uint32_t announce = Setting(SettingId::Announce).defaultNumber;
    std::u16string tcpConnect;   // "host:port,host:port": servers the stream is sent to
    MqttSettings mqtt;
};
