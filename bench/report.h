// The benchmark's report in markdown: one table with Tavrel and socat side
// by side and the relay's target beside each figure that has one, the idle
// wake-ups thread by thread, and the realistic run.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bench/run_measures.h"

namespace tavrel::bench {

struct ComparedRuns {
    int outputs = 0;
    RelayRuns tavrel;
    RelayRuns socat;
};

struct RealisticResult {
    int baud = 0;
    std::string relay;
    std::optional<RealisticFigures> figures;
    std::string failure;   // when there are no figures
};

// A statistic of the pooled latency in ms, with the bytes lost or stray if any; "—" for none measured.
std::string LatencyCell(const RelayRuns& relay, Statistic statistic);

std::string SideBySideTable(const std::vector<ComparedRuns>& compared);
std::string IdleThreadTable(const std::vector<ComparedRuns>& compared);
std::string RealisticTable(const std::vector<RealisticResult>& results, int outputs);
// The runs that failed, one line each; empty when none did.
std::string FailureList(const std::vector<ComparedRuns>& compared, const std::vector<RealisticResult>& realistic);

}  // namespace tavrel::bench
