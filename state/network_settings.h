// The network outputs' settings. They are read from the registry at each start
// of the relay, so a change made by the Status dialog or by tavrel-config
// counts from the next start.
#pragma once

#include <cstdint>
#include <string>

// The port the Status dialog offers when the server is turned on: the one
// navigation programs expect NMEA 0183 on.
inline constexpr std::uint32_t kNmeaTcpPort = 10110;

struct NetworkSettings {
    std::uint32_t tcpPort = 0;         // "TcpPort": 0 no TCP server, else its port (1 to 65535)
    std::uint32_t tcpAnyAddress = 0;   // "TcpAnyAddress": 0 loopback only, else every address
    std::u16string tcpAllow;           // "TcpAllow": addresses or prefixes; empty lets anyone in
    std::u16string udpTarget;          // "UdpTarget": "host:port"; empty no UDP output
};
