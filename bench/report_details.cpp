// The report's detail tables: idle wake-ups thread by thread, the realistic
// run, and the runs that failed.
#include <algorithm>
#include <map>

#include "bench/report.h"
#include "bench/report_cells.h"

namespace tavrel::bench {
namespace {

// The threads of the first run, each with the median rate at its place over
// all runs when every run had the same threads.
std::vector<ThreadWakeups> TypicalThreads(const RelayRuns& relay)
{
    if (relay.runs.empty()) {
        return {};
    }
    std::vector<ThreadWakeups> threads = relay.runs.front().idle;
    const bool alike = std::all_of(relay.runs.begin(), relay.runs.end(),
                                   [&](const RunFigures& run) { return run.idle.size() == threads.size(); });
    for (std::size_t i = 0; alike && i < threads.size(); ++i) {
        std::vector<double> rates;
        for (const RunFigures& run : relay.runs) {
            rates.push_back(run.idle[i].perSecond);
        }
        threads[i].perSecond = MedianOf(rates).value_or(0);
    }
    return threads;
}

void AddThreadRows(std::string& table, const std::string& relayName, int outputs, const RelayRuns& relay)
{
    std::map<pid_t, std::size_t> processNumbers;
    for (const ThreadWakeups& thread : TypicalThreads(relay)) {
        const std::size_t process = processNumbers.emplace(thread.process, processNumbers.size() + 1).first->second;
        const std::string role = thread.thread == thread.process ? "main" : "tid " + std::to_string(thread.thread);
        table += MarkdownRow({relayName, Outputs(outputs), std::to_string(process), thread.name + " (" + role + ")",
                              thread.sleepsIn, Number(thread.perSecond)});
    }
}

std::string Mebibytes(std::uint64_t kilobytes)
{
    return Number(static_cast<double>(kilobytes) / 1024.0);
}

}  // namespace

std::string IdleThreadTable(const std::vector<ComparedRuns>& compared)
{
    std::string table = MarkdownRow({"relay", "outputs", "process", "thread", "sleeps in (wchan)", "wake-ups/s"}) +
                        "|---|---|---|---|---|---|\n";
    for (const ComparedRuns& c : compared) {
        AddThreadRows(table, "Tavrel", c.outputs, c.tavrel);
        AddThreadRows(table, "socat", c.outputs, c.socat);
    }
    return table;
}

std::string RealisticTable(const std::vector<RealisticResult>& results, int outputs)
{
    const std::string readOutputs = "the " + std::to_string(outputs - 1) + " read outputs";
    std::string table = MarkdownRow({"baud", "relay", "bytes due", "the input took", readOutputs + " by the end",
                                     readOutputs + " once the never-read one was read too",
                                     "the never-read output gave then", "VmRSS start → end (MiB)"}) +
                        "|---|---|---|---|---|---|---|---|\n";
    for (const RealisticResult& result : results) {
        if (!result.figures) {
            table += MarkdownRow({std::to_string(result.baud), result.relay, "failed", "—", "—", "—", "—", "—"});
            continue;
        }
        const RealisticFigures& f = *result.figures;
        table += MarkdownRow({std::to_string(result.baud), result.relay, std::to_string(f.scheduled),
                              std::to_string(f.accepted), DeliveryText(f.byTheEnd), DeliveryText(f.forGood),
                              std::to_string(f.neverReadHeld),
                              Mebibytes(f.residentStartKilobytes) + " → " + Mebibytes(f.residentEndKilobytes)});
    }
    return table;
}

std::string FailureList(const std::vector<ComparedRuns>& compared, const std::vector<RealisticResult>& realistic)
{
    std::string list;
    for (const ComparedRuns& c : compared) {
        AddFailures(list, "Tavrel, " + Outputs(c.outputs), c.tavrel.failures);
        AddFailures(list, "socat, " + Outputs(c.outputs), c.socat.failures);
    }
    for (const RealisticResult& result : realistic) {
        if (!result.figures) {
            AddFailures(list, result.relay + ", realistic run at " + std::to_string(result.baud) + " baud",
                        {result.failure});
        }
    }
    return list;
}

}  // namespace tavrel::bench
