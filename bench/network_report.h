// The network section of the report: latency to TCP clients with Tavrel,
// ser2net and socat side by side, and the realistic run with a client that
// never reads, each with Tavrel's goals.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bench/run_measures.h"

namespace tavrel::bench {

// The latency runs with one client count; a run holds only its latency.
// socat serves one client only, so it has runs only with one.
struct NetworkCompared {
    int clients = 0;
    RelayRuns tavrel;
    RelayRuns ser2net;
    RelayRuns socat;
};

struct NetworkRealisticResult {
    std::string relay;
    std::optional<NetworkRealisticFigures> figures;
    std::string failure;   // when there are no figures
};

struct NetworkResults {
    std::vector<NetworkCompared> latency;
    std::vector<NetworkRealisticResult> realistic;
};

// "1 client", "8 clients".
std::string Clients(int clients);

std::string NetworkLatencyTable(const std::vector<NetworkCompared>& compared);
std::string NetworkRealisticTable(const std::vector<NetworkRealisticResult>& results);
// Whether no reading client of Tavrel's realistic run lost a byte; nothing when it did not run.
std::optional<bool> ReadersLostNothing(const std::vector<NetworkRealisticResult>& results);
// The network runs that failed, one line each; empty when none did.
std::string NetworkFailureList(const NetworkResults& results);

}  // namespace tavrel::bench
