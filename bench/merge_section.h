// The merge section of relay_compare: three inputs merged line by line to
// many readers, Tavrel beside Signal K server. Tavrel reads the GPS stream
// as its main input (a pseudo-terminal at 4800 baud), the AIS stream as an
// extra serial input (a second pseudo-terminal at 38400 baud) and the wind
// stream as an extra UDP input, and serves 9 virtual ports and 4 TCP
// clients. Signal K has no virtual serial ports, and its serial providers
// need a native module, so it reads the same streams at the same rates as
// three NMEA 0183 TCP providers and serves 4 TCP clients.
#pragma once

#include <vector>

#include "bench/merge_report.h"
#include "bench/options.h"

namespace tavrel::bench {

std::vector<MergeResult> MeasureMergeSection(const Options& options);

}  // namespace tavrel::bench
