#include "bench/network_report.h"

#include <algorithm>

#include "bench/report.h"
#include "bench/report_cells.h"

namespace tavrel::bench {
namespace {

const char* const kOneClientOnly = "one client only";

std::string SocatLatencyCell(const NetworkCompared& c, Statistic statistic)
{
    return c.clients == 1 ? LatencyCell(c.socat, statistic) : kOneClientOnly;
}

// Tavrel's goal for a statistic that has one: at or below ser2net's.
std::string LatencyTarget(const NetworkCompared& c, Statistic statistic)
{
    if (statistic == &Distribution::max) {
        return "";
    }
    const auto bound = LatencyStatistic(c.ser2net, statistic);
    return "≤ ser2net's" + (bound ? " (" + Number(*bound) + " ms)" : "") + ": " +
           Verdict(AtMost(LatencyStatistic(c.tavrel, statistic), bound));
}

std::string LostCell(const std::vector<std::size_t>& lost)
{
    std::string text;
    for (const std::size_t bytes : lost) {
        // appended: GCC 12 -Wrestrict misfires on "x" + text
        text.append(text.empty() ? "" : " / ").append(std::to_string(bytes));
    }
    return text + " bytes";
}

std::string SentenceLatencyCell(const std::vector<double>& millis)
{
    const auto latency = Summarize(millis);
    if (!latency) {
        return "—";
    }
    return Number(latency->median) + " / " + Number(latency->p99) + " / " + Number(latency->max) + " ms";
}

std::string StalledCell(const NetworkRealisticFigures& f)
{
    std::string text = f.stalledCutOff ? "cut off" : "kept open";
    if (f.stalledCutOff && f.cutOffAfter) {
        text.append(" ").append(Number(*f.cutOffAfter)).append(" s into the run");
    } else if (f.stalledCutOff) {
        text.append(" after the run");
    }
    return text.append("; held ").append(std::to_string(f.stalledHeld)).append(" bytes");
}

}  // namespace

std::string Clients(int clients)
{
    return std::to_string(clients) + (clients == 1 ? " client" : " clients");
}

std::string NetworkLatencyTable(const std::vector<NetworkCompared>& compared)
{
    std::string table = MarkdownRow({"figure", "Tavrel", "ser2net", "socat", "target (Tavrel)"}) +
                        "|---|---|---|---|---|\n";
    const std::pair<const char*, Statistic> statistics[] = {
        {"median", &Distribution::median}, {"p99", &Distribution::p99}, {"max", &Distribution::max}};
    for (const auto& [name, statistic] : statistics) {
        for (const NetworkCompared& c : compared) {
            table += MarkdownRow({std::string("latency ") + name + ", " + Clients(c.clients),
                                  LatencyCell(c.tavrel, statistic), LatencyCell(c.ser2net, statistic),
                                  SocatLatencyCell(c, statistic), LatencyTarget(c, statistic)});
        }
    }
    return table;
}

std::string NetworkRealisticTable(const std::vector<NetworkRealisticResult>& results)
{
    std::string table = MarkdownRow({"relay", "bytes due", "the input took", "lost by each reading client",
                                     "reading clients' sentence latency, median / p99 / max",
                                     "the client that never reads"}) +
                        "|---|---|---|---|---|---|\n";
    for (const NetworkRealisticResult& result : results) {
        if (!result.figures) {
            table += MarkdownRow({result.relay, "failed", "—", "—", "—", "—"});
            continue;
        }
        const NetworkRealisticFigures& f = *result.figures;
        table += MarkdownRow({result.relay, std::to_string(f.scheduled), std::to_string(f.accepted),
                              LostCell(f.readerLost), SentenceLatencyCell(f.sentenceMillis), StalledCell(f)});
    }
    return table + MarkdownRow({"socat", kOneClientOnly, "", "", "", ""});
}

std::optional<bool> ReadersLostNothing(const std::vector<NetworkRealisticResult>& results)
{
    const auto tavrel = std::find_if(results.begin(), results.end(), [](const NetworkRealisticResult& result) {
        return result.relay == "Tavrel" && result.figures;
    });
    if (tavrel == results.end()) {
        return std::nullopt;
    }
    const std::vector<std::size_t>& lost = tavrel->figures->readerLost;
    return std::all_of(lost.begin(), lost.end(), [](std::size_t bytes) { return bytes == 0; });
}

std::string NetworkFailureList(const NetworkResults& results)
{
    std::string list;
    for (const NetworkCompared& c : results.latency) {
        AddFailures(list, "Tavrel, " + Clients(c.clients), c.tavrel.failures);
        AddFailures(list, "ser2net, " + Clients(c.clients), c.ser2net.failures);
        AddFailures(list, "socat, " + Clients(c.clients), c.socat.failures);
    }
    for (const NetworkRealisticResult& result : results.realistic) {
        if (!result.figures) {
            AddFailures(list, result.relay + ", realistic run over TCP", {result.failure});
        }
    }
    return list;
}

}  // namespace tavrel::bench
