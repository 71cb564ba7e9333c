// The command line of relay_compare: the full mode by default, --quick for
// short runs while trying things, and the few lengths one may want to change.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bench/plans.h"

namespace tavrel::bench {

struct Options {
    bool quick = false;
    int runs = 3;                 // alternating runs of each relay per output count
    RunPlan plan;
    int neverReadSeconds = 60;    // length of each realistic run
    bool realistic = true;
    bool serial = true;           // the virtual-port section (Tavrel and socat side by side)
    bool network = true;          // the TCP section (Tavrel, ser2net and socat)
    int networkSeconds = 30;      // length of the realistic run over TCP
    bool merge = true;            // the merge section (three inputs merged; Tavrel and Signal K)
    int mergeSeconds = 300;       // length of each merge run
    bool shape = true;            // the shaping and talk section (shaped outputs' cost, talk back)
    int shapeSeconds = 30;        // length of each shaping-cost run
    bool mqtt = true;             // the MQTT section (publishing through a broker, beside a TCP client)
    int mqttSeconds = 30;         // length of each MQTT run
    int mqttOutageSeconds = 30;   // how long the broker stays away in the outage run
    std::filesystem::path signalk = "/opt/signalk";   // where npm installed signalk-server
};

// Nothing, with `error` set, for a command line that does not parse.
std::optional<Options> ParseOptions(const std::vector<std::string>& arguments, std::string& error);

extern const char* const kUsage;

}  // namespace tavrel::bench
