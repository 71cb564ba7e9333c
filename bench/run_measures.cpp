#include "bench/run_measures.h"

#include <algorithm>

namespace tavrel::bench {

double ThroughputMegabytesPerSecond(const RunFigures& run)
{
    const ThroughputFigures& t = run.throughput;
    return t.seconds > 0 ? static_cast<double>(t.accepted) / t.seconds / 1e6 : 0;
}

double CpuSecondsPerMegabyte(const RunFigures& run)
{
    const ThroughputFigures& t = run.throughput;
    return t.accepted > 0 ? t.cpuSeconds / (static_cast<double>(t.accepted) / 1e6) : 0;
}

double IdleWakeupsPerSecond(const RunFigures& run)
{
    return TotalPerSecond(run.idle);
}

double ResidentMebibytes(const RunFigures& run)
{
    return static_cast<double>(run.residentKilobytes) / 1024.0;
}

double FirstByteAfterPortsMs(const RunFigures& run)
{
    return run.launch.firstByteMs - run.launch.linksMs;
}

std::vector<double> EachRun(const RelayRuns& relay, double (*figure)(const RunFigures&))
{
    std::vector<double> values;
    for (const RunFigures& run : relay.runs) {
        values.push_back(figure(run));
    }
    return values;
}

std::optional<Distribution> PooledLatency(const RelayRuns& relay)
{
    std::vector<double> samples;
    for (const RunFigures& run : relay.runs) {
        samples.insert(samples.end(), run.latency.millis.begin(), run.latency.millis.end());
    }
    return Summarize(std::move(samples));
}

std::optional<double> LatencyStatistic(const RelayRuns& relay, Statistic statistic)
{
    const auto latency = PooledLatency(relay);
    return latency ? std::optional<double>((*latency).*statistic) : std::nullopt;
}

bool EveryByteDelivered(const RelayRuns& relay)
{
    return std::all_of(relay.runs.begin(), relay.runs.end(), [](const RunFigures& run) {
        return run.throughput.delivery.Whole();
    });
}

}  // namespace tavrel::bench
