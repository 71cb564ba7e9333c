#include "bench/mqtt_report.h"

#include <algorithm>

#include "bench/percentiles.h"
#include "bench/report_cells.h"

namespace tavrel::bench {
namespace {

std::optional<double> PerMegabyte(const MqttRunResult& run, double MqttRunFigures::*seconds)
{
    if (!run.figures || run.figures->inputBytes == 0) {
        return std::nullopt;
    }
    return (*run.figures).*seconds / (static_cast<double>(run.figures->inputBytes) / 1e6);
}

const MqttRunResult* RunWithoutMqtt(const MqttResults& results)
{
    const auto base = std::find_if(results.runs.begin(), results.runs.end(),
                                   [](const MqttRunResult& run) { return !run.publishing; });
    return base == results.runs.end() ? nullptr : &*base;
}

// "1.52 / 3.10 / 4.02 ms"; "—" for no samples.
std::string LatencyCell(const std::vector<double>& millis)
{
    const auto latency = Summarize(millis);
    return latency ? Number(latency->median) + " / " + Number(latency->p99) + " / " + Number(latency->max) + " ms"
                   : "—";
}

std::string SecondsCell(std::optional<double> seconds)
{
    return seconds ? Number(*seconds * 1000) + " ms" : "—";
}

std::string WorkerCell(const MqttResults& results, const MqttRunResult& run)
{
    const std::optional<double> ratio = MqttWorkerCostRatio(results, run);
    return SecondsCell(MqttWorkerPerMegabyte(run)) + (ratio ? " (" + Number(*ratio) + "×)" : "");
}

std::vector<std::string> RunRow(const MqttResults& results, const MqttRunResult& run)
{
    if (!run.figures) {
        return {run.name, "failed", "", "", "", "", "", ""};
    }
    const MqttRunFigures& f = *run.figures;
    const std::string rate = Number(static_cast<double>(f.sent) / std::max(f.seconds, 1e-9));
    if (!run.publishing) {
        return {run.name, rate, "—", "—", LatencyCell(f.tcpMillis), WorkerCell(results, run), "—", "—"};
    }
    const std::string received = std::to_string(f.mqttReceived) + " of " + std::to_string(f.sent) +
                                 (f.mqttRepeated > 0 ? " (" + std::to_string(f.mqttRepeated) + " twice)" : "");
    return {run.name,
            rate,
            received,
            LatencyCell(f.mqttMillis),
            LatencyCell(f.tcpMillis),
            WorkerCell(results, run),
            SecondsCell(PerMegabyte(run, &MqttRunFigures::publisherSeconds)),
            f.health ? std::to_string(f.health->published) + " / " + std::to_string(f.health->dropped) : "—"};
}

std::string KilobytesCell(std::uint64_t kilobytes)
{
    return std::to_string(kilobytes) + " kB";
}

std::string OptionalSeconds(std::optional<double> seconds, const char* otherwise)
{
    return seconds ? Number(*seconds) + " s" : otherwise;
}

}  // namespace

std::optional<double> MqttWorkerPerMegabyte(const MqttRunResult& run)
{
    return PerMegabyte(run, &MqttRunFigures::workerSeconds);
}

std::optional<double> MqttWorkerCostRatio(const MqttResults& results, const MqttRunResult& run)
{
    const MqttRunResult* base = RunWithoutMqtt(results);
    if (!run.publishing || base == nullptr) {
        return std::nullopt;
    }
    const std::optional<double> without = MqttWorkerPerMegabyte(*base);
    const std::optional<double> with = MqttWorkerPerMegabyte(run);
    return with && without && *without > 0 ? std::optional(*with / *without) : std::nullopt;
}

std::optional<double> WorstMqttWorkerCost(const MqttResults& results)
{
    std::optional<double> worst;
    for (const MqttRunResult& run : results.runs) {
        if (const std::optional<double> ratio = MqttWorkerCostRatio(results, run)) {
            worst = std::max(worst.value_or(*ratio), *ratio);
        }
    }
    return worst;
}

std::string MqttRunTable(const MqttResults& results)
{
    std::string table = MarkdownRow({"run", "sentences/s", "MQTT: sentences received",
                                     "MQTT latency, median / p99 / max", "TCP client latency, median / p99 / max",
                                     "worker CPU per MB (× without MQTT)", "publisher CPU per MB",
                                     "health: published / dropped"}) +
                        "|---|---|---|---|---|---|---|---|\n";
    for (const MqttRunResult& run : results.runs) {
        table += MarkdownRow(RunRow(results, run));
    }
    const std::optional<double> worst = WorstMqttWorkerCost(results);
    return table + "\nThe worker's CPU per MB with MQTT on, at most " + Number(kMqttWorkerCostGoal) +
           "× of it without (the worst run: " + (worst ? Number(*worst) + "×" : "—") +
           "): " + Verdict(AtMost(worst, kMqttWorkerCostGoal)) + ".\n";
}

std::string MqttOutageTable(const OutageResult& outage)
{
    if (!outage.figures) {
        return "The broker outage run failed.\n";
    }
    const OutageFigures& f = *outage.figures;
    const double growth = static_cast<double>(f.rssPeakKb) - static_cast<double>(f.rssBeforeKb);
    std::string table = MarkdownRow({"measure", "Tavrel", "goal"}) + "|---|---|---|\n";
    for (const std::vector<std::string>& row : std::vector<std::vector<std::string>>{
             {"the broker away (killed, then started again on its port)", Number(f.outageSeconds) + " s", ""},
             {"RSS before the kill / the peak from then on / at the end",
              KilobytesCell(f.rssBeforeKb) + " / " + KilobytesCell(f.rssPeakKb) + " / " + KilobytesCell(f.rssAfterKb),
              "grows at most " + Number(kOutageGrowthGoalKilobytes) + " kB: " +
                  Verdict(AtMost(growth, kOutageGrowthGoalKilobytes))},
             {"sentences dropped (health), of those written from the kill to the reconnection",
              std::to_string(f.droppedAfter - f.droppedBefore) + " of " + std::to_string(f.sentDuring), ""},
             {"the broker takes connections again → the publisher connected (health)",
              OptionalSeconds(f.reconnectSeconds, "never"), "within the 30 s back-off: " +
                  Verdict(AtMost(f.reconnectSeconds, 30.0))},
             {"the broker takes connections again → a fresh subscriber's first sentence",
              OptionalSeconds(f.firstSentenceSeconds, "never"), ""},
         }) {
        table += MarkdownRow(row);
    }
    return table;
}

std::string MqttFailureList(const MqttResults& results)
{
    std::string list;
    for (const MqttRunResult& run : results.runs) {
        if (!run.failure.empty()) {
            AddFailures(list, "Tavrel, MQTT run " + run.name, {run.failure});
        }
    }
    if (!results.outage.failure.empty()) {
        AddFailures(list, "Tavrel, MQTT broker outage run", {results.outage.failure});
    }
    return list;
}

}  // namespace tavrel::bench
