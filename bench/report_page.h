// The whole page that relay_compare prints: what was run and on how busy a
// machine, the side-by-side table, the idle threads, the realistic run, the
// network section, the merge section, the shaping and talk section, the MQTT section, how each
// figure was taken, and the runs that failed.
#pragma once

#include <string>
#include <vector>

#include "bench/merge_report.h"
#include "bench/mqtt_report.h"
#include "bench/network_report.h"
#include "bench/options.h"
#include "bench/report.h"
#include "bench/shape_report.h"

namespace tavrel::bench {

// The realistic run's outputs: as many as fit beside the input among COM0 to COM9.
inline constexpr int kRealisticRunOutputs = 9;

struct Machine {
    std::string loadBefore;   // the 1-minute load average
    std::string loadAfter;
    unsigned cpus = 0;
    std::string tcpSendBufferMax;   // bytes the kernel may queue for one TCP client (tcp_wmem's maximum)
};

// The sections that `options` leave out are left out of the page.
std::string ReportPage(const Options& options, const Machine& machine, const std::vector<ComparedRuns>& compared,
                       const std::vector<RealisticResult>& realistic, const NetworkResults& network,
                       const std::vector<MergeResult>& merge = {}, const ShapeResults& shape = {},
                       const MqttResults& mqtt = {});

}  // namespace tavrel::bench
