// Where the UDP output sends: a host and a port, as a person writes them in
// the settings ("192.168.1.255:10110", "[fe80::1%wlan0]:10110",
// "chartplotter.local:10110"). Parsing only reads the text; a host name is
// looked up when the sender starts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::network {

struct UdpTarget {
    std::string host;             // an IPv4 or IPv6 address (without brackets), or a host name
    std::uint16_t port = 0;       // 1 to 65535
    bool numeric = false;         // `host` is an address: starting needs no name lookup
};

// The target that `text` writes ("host:port", "[IPv6]:port"), spaces around
// it ignored, or nothing with `failure` quoting the text and saying what is wrong.
std::optional<UdpTarget> ParseUdpTarget(std::string_view text, std::string& failure);

// The targets of a list ("plotter.local:10110, 192.168.1.20:2000"), as
// written: separated by commas or blanks.
std::vector<std::string_view> TargetList(std::string_view text);

// "192.168.1.255:10110", "[fe80::1]:10110": the target as it parses again.
std::string UdpTargetText(const UdpTarget& target);

}  // namespace tavrel::network
