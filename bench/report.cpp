#include "bench/report.h"

#include <algorithm>
#include <functional>
#include <set>

#include "bench/report_cells.h"

namespace tavrel::bench {
namespace {

std::optional<double> MedianRun(const RelayRuns& relay, double (*figure)(const RunFigures&))
{
    return MedianOf(EachRun(relay, figure));
}

struct Row {
    std::string figure;
    std::string tavrel;
    std::string socat;
    std::string target;
};

using RowMaker = std::function<Row(const ComparedRuns&)>;
RowMaker Latency(const std::string& name, Statistic statistic)
{
    return [=](const ComparedRuns& c) {
        Row row{"latency " + name + ", " + Outputs(c.outputs), LatencyCell(c.tavrel, statistic),
                LatencyCell(c.socat, statistic), ""};
        const auto tavrel = LatencyStatistic(c.tavrel, statistic);
        if (statistic == &Distribution::median && c.outputs == 1) {
            const auto bound = LatencyStatistic(c.socat, statistic);
            row.target = "≤ 1.5× socat's" + (bound ? " (" + Number(1.5 * *bound) + " ms)" : "") + ": " +
                         Verdict(AtMost(tavrel, bound ? std::optional(1.5 * *bound) : std::nullopt));
        } else if (statistic == &Distribution::p99 && c.outputs == 9) {
            row.target = "< 1 ms: " + Verdict(Below(tavrel, 1.0));
        }
        return row;
    };
}

// The worst run's delivery.
std::string DeliveryWords(const RelayRuns& relay)
{
    Delivery worst;
    for (const RunFigures& run : relay.runs) {
        worst.Add(run.throughput.delivery.mostMissing, run.throughput.delivery.firstDifference);
    }
    return relay.runs.empty() ? "" : ", " + DeliveryText(worst);
}

Row Throughput(const ComparedRuns& c)
{
    Row row{"throughput, 100-byte writes, " + Outputs(c.outputs),
            Figure(EachRun(c.tavrel, ThroughputMegabytesPerSecond), "MB/s") + DeliveryWords(c.tavrel),
            Figure(EachRun(c.socat, ThroughputMegabytesPerSecond), "MB/s") + DeliveryWords(c.socat), ""};
    if (c.outputs == 9) {
        const auto met = AtLeast(MedianRun(c.tavrel, ThroughputMegabytesPerSecond), 5.0);
        row.target = "≥ 5 MB/s with every byte: " +
                     Verdict(met ? std::optional(*met && EveryByteDelivered(c.tavrel)) : std::nullopt);
    }
    return row;
}

Row Cpu(const ComparedRuns& c)
{
    const auto socat = MedianRun(c.socat, CpuSecondsPerMegabyte);
    const auto bound = socat ? std::optional(2 * *socat) : std::nullopt;
    return {"CPU seconds per MB of input, " + Outputs(c.outputs), Figure(EachRun(c.tavrel, CpuSecondsPerMegabyte), "s"),
            Figure(EachRun(c.socat, CpuSecondsPerMegabyte), "s"),
            "≤ 2× socat's" + (bound ? " (" + Number(*bound) + " s)" : "") + ": " +
                Verdict(AtMost(MedianRun(c.tavrel, CpuSecondsPerMegabyte), bound))};
}

Row Idle(const ComparedRuns& c)
{
    return {"wake-ups per second, idle input, all threads, " + Outputs(c.outputs),
            Figure(EachRun(c.tavrel, IdleWakeupsPerSecond), "/s"), Figure(EachRun(c.socat, IdleWakeupsPerSecond), "/s"),
            "0 from the relay path: see the threads below"};
}

std::string Shape(const RelayRuns& relay)
{
    if (relay.runs.empty()) {
        return "—";
    }
    std::set<pid_t> processes;
    for (const ThreadWakeups& thread : relay.runs.front().idle) {
        processes.insert(thread.process);
    }
    const std::size_t threads = relay.runs.front().idle.size();
    return std::to_string(processes.size()) + (processes.size() == 1 ? " process, " : " processes, ") +
           std::to_string(threads) + (threads == 1 ? " thread" : " threads");
}

Row Memory(const ComparedRuns& c)
{
    return {"resident memory (VmRSS, summed), " + Outputs(c.outputs),
            Figure(EachRun(c.tavrel, ResidentMebibytes), "MiB") + " in " + Shape(c.tavrel),
            Figure(EachRun(c.socat, ResidentMebibytes), "MiB") + " in " + Shape(c.socat), ""};
}

RowMaker Launch(const std::string& name, double (*figure)(const RunFigures&))
{
    return [=](const ComparedRuns& c) {
        return Row{name + ", " + Outputs(c.outputs), Figure(EachRun(c.tavrel, figure), "ms"),
                   Figure(EachRun(c.socat, figure), "ms"), ""};
    };
}

Row FirstByteAfterPorts(const ComparedRuns& c)
{
    Row row = Launch("first byte at every output after its port exists", FirstByteAfterPortsMs)(c);
    row.target = "< 50 ms: " + Verdict(Below(MedianRun(c.tavrel, FirstByteAfterPortsMs), 50.0));
    return row;
}

std::string Outcomes(const RelayRuns& relay)
{
    std::vector<std::string> distinct;
    for (const RunFigures& run : relay.runs) {
        if (std::find(distinct.begin(), distinct.end(), run.exit.words) == distinct.end()) {
            distinct.push_back(run.exit.words);
        }
    }
    std::string text;
    for (const std::string& words : distinct) {
        text += (text.empty() ? "" : "; ") + words;
    }
    return text.empty() ? "—" : text;
}

Row Exit(const ComparedRuns& c)
{
    const auto exitMs = [](const RunFigures& run) { return run.exitMs; };
    const bool cleanly = !c.tavrel.runs.empty() && std::all_of(c.tavrel.runs.begin(), c.tavrel.runs.end(),
                                                               [](const RunFigures& run) { return run.exit.asRequired; });
    const auto fast = Below(MedianRun(c.tavrel, exitMs), 20.0);
    return {"SIGTERM → exit (waitpid), " + Outputs(c.outputs), Figure(EachRun(c.tavrel, exitMs), "ms"),
            Figure(EachRun(c.socat, exitMs), "ms"),
            "< 20 ms, settings kept, links removed: " + Verdict(fast ? std::optional(*fast && cleanly) : std::nullopt)};
}

Row AfterExit(const ComparedRuns& c)
{
    return {"after the exit, " + Outputs(c.outputs), Outcomes(c.tavrel), Outcomes(c.socat), ""};
}

std::vector<RowMaker> RowMakers()
{
    return {Latency("median", &Distribution::median),
            Latency("p99", &Distribution::p99),
            Latency("max", &Distribution::max),
            Throughput,
            Cpu,
            Idle,
            Memory,
            Launch("launch → every port exists", [](const RunFigures& run) { return run.launch.linksMs; }),
            Launch("launch → first byte at every output", [](const RunFigures& run) { return run.launch.firstByteMs; }),
            FirstByteAfterPorts,
            Exit,
            AfterExit};
}

}  // namespace

std::string LatencyCell(const RelayRuns& relay, Statistic statistic)
{
    const auto value = LatencyStatistic(relay, statistic);
    if (!value) {
        return "—";
    }
    std::size_t lost = 0;
    std::size_t sent = 0;
    std::size_t stray = 0;
    for (const RunFigures& run : relay.runs) {
        lost += run.latency.unanswered;
        sent += run.latency.millis.size() + run.latency.unanswered;
        stray += run.latency.garbled;
    }
    std::string note;
    if (lost > 0) {
        note += ", " + std::to_string(lost) + " of " + std::to_string(sent) + " bytes lost";
    }
    if (stray > 0) {
        note += ", " + std::to_string(stray) + " stray bytes";
    }
    return Number(*value) + " ms" + note;
}

std::string SideBySideTable(const std::vector<ComparedRuns>& compared)
{
    std::string table = MarkdownRow({"figure", "Tavrel", "socat", "target (Tavrel)"}) + "|---|---|---|---|\n";
    for (const RowMaker& make : RowMakers()) {
        for (const ComparedRuns& c : compared) {
            const Row row = make(c);
            table += MarkdownRow({row.figure, row.tavrel, row.socat, row.target});
        }
    }
    return table;
}

}  // namespace tavrel::bench
