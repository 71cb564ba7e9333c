// The network section of relay_compare: Tavrel's TCP server, ser2net and
// socat TCP-LISTEN, each relaying a fresh input pseudo-terminal to clients
// on 127.0.0.1, in alternating runs: latency with 1 and 8 clients (socat
// serves one client only), and the realistic run with a client that never
// reads (Tavrel and ser2net).
#pragma once

#include "bench/network_report.h"
#include "bench/options.h"

namespace tavrel::bench {

NetworkResults MeasureNetwork(const Options& options);

}  // namespace tavrel::bench
