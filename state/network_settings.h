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

struct NetworkSettings {
    std::uint32_t tcpPort = Setting(SettingId::TcpPort).defaultNumber;   // 0 no TCP server, else its port
    std::uint32_t tcpAnyAddress = Setting(SettingId::TcpAnyAddress).defaultNumber;   // 0 loopback only, else any
    std::u16string tcpAllow{Setting(SettingId::TcpAllow).defaultText};     // addresses or prefixes; empty: anyone
    std::u16string udpTarget{Setting(SettingId::UdpTarget).defaultText};   // "host:port"; empty: no UDP output
    // For a multicast group as the target: how many routers its datagrams
    // may cross, and the interface they leave by (empty: the routes' choice).
    std::uint32_t udpTtl = Setting(SettingId::UdpTtl).defaultNumber;
    std::u16string udpInterface{Setting(SettingId::UdpInterface).defaultText};
};
