// Signal K server, as npm installs it (npm install signalk-server in a
// folder of its own) and run by node with a configuration folder of the
// run's own: it reads each input as an NMEA 0183 TCP provider, a client of
// one of the bench's feeds, and serves what it passes on at its NMEA 0183
// TCP port (NMEA0183PORT) on 127.0.0.1. Its HTTP port (PORT) and its Signal
// K stream port (TCPSTREAMPORT) are free ports too, so that nothing else in
// the way of 3000, 10110 or 8375 matters.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "bench/network_relays.h"

namespace tavrel::bench {

// A provider's id and the port of the feed it reads.
using SignalKProvider = std::pair<std::string, std::uint16_t>;

// The script that npm installs under `install`.
std::filesystem::path SignalKScript(const std::filesystem::path& install);

// settings.json: no interface changed from its defaults, one NMEA 0183 TCP provider per feed.
std::string SignalKSettings(const std::vector<SignalKProvider>& providers);

class SignalKRelay : public OneProcessRelay {
public:
    SignalKRelay(const std::filesystem::path& folder, const std::filesystem::path& install,
                 const std::vector<SignalKProvider>& providers);
    std::string name() const override { return "signalk-server"; }
    // Whether its REST API answers with the vessel's position, which it knows
    // once it has parsed the GPS input.
    bool HasPosition() const;

private:
    SignalKRelay(const std::filesystem::path& folder, const std::filesystem::path& install,
                 const std::vector<SignalKProvider>& providers, std::uint16_t httpPort, std::uint16_t nmeaPort);

    std::uint16_t httpPort_ = 0;
};

}  // namespace tavrel::bench
