// The reported figures, derived from what the runs measured: rates per
// megabyte (10^6 bytes) of input, wake-ups summed over threads, latency
// samples pooled over the runs of one relay.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bench/figures.h"
#include "bench/percentiles.h"

namespace tavrel::bench {

// What the runs of one relay with one output count gave, and why others failed.
struct RelayRuns {
    std::vector<RunFigures> runs;
    std::vector<std::string> failures;
};

double ThroughputMegabytesPerSecond(const RunFigures& run);
double CpuSecondsPerMegabyte(const RunFigures& run);
double IdleWakeupsPerSecond(const RunFigures& run);
double ResidentMebibytes(const RunFigures& run);
double FirstByteAfterPortsMs(const RunFigures& run);

// One figure from each run.
std::vector<double> EachRun(const RelayRuns& relay, double (*figure)(const RunFigures&));

// The latency samples of every run together.
std::optional<Distribution> PooledLatency(const RelayRuns& relay);

// One statistic of the pooled latency, e.g. &Distribution::median.
using Statistic = double Distribution::*;
std::optional<double> LatencyStatistic(const RelayRuns& relay, Statistic statistic);

// Every run's every output received every byte of the throughput phase, unchanged.
bool EveryByteDelivered(const RelayRuns& relay);

}  // namespace tavrel::bench
