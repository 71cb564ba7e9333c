#include "bench/merge_report.h"

#include <algorithm>

#include "bench/percentiles.h"
#include "bench/report_cells.h"

namespace tavrel::bench {
namespace {

std::string ReceivedCell(const SourceTally& tally, std::size_t sent)
{
    const std::string fewest = std::to_string(tally.fewest);
    const std::string received = tally.fewest == tally.most ? fewest : fewest + "–" + std::to_string(tally.most);
    return received + " / " + std::to_string(sent);
}

std::string LatencyCell(const std::vector<double>& millis)
{
    const auto latency = Summarize(millis);
    return latency ? Number(latency->median) + " / " + Number(latency->p99) + " ms" : "—";
}

std::string MaxCell(const std::vector<double>& millis)
{
    const auto latency = Summarize(millis);
    return latency ? Number(latency->max) + " ms" : "—";
}

// The share of the sentences that took longer than a millisecond.
std::string LateCell(const std::vector<double>& millis)
{
    const auto late = std::count_if(millis.begin(), millis.end(), [](double ms) { return ms > 1.0; });
    return millis.empty() ? "—" : Number(100.0 * static_cast<double>(late) / static_cast<double>(millis.size())) + " %";
}

// "GPS 0.2 / 1.3 ms, AIS ..., wind ...".
std::string PerSource(const std::array<std::vector<double>, kMergeSources>& millis,
                      std::string (*cell)(const std::vector<double>&))
{
    std::string text;
    for (const MergeSource source : kAllMergeSources) {
        text.append(text.empty() ? "" : ", ").append(NameOf(source)).append(" ");
        text += cell(millis[static_cast<std::size_t>(source)]);
    }
    return text;
}

std::vector<std::string> Row(const MergeResult& result)
{
    std::vector<std::string> cells = {result.relay + " (" + result.readers + ")"};
    if (!result.figures) {
        cells.resize(11, "—");
        cells[1] = result.skipped.empty() ? "failed" : "not run";
        return cells;
    }
    const MergeFigures& f = *result.figures;
    for (const MergeSource source : kAllMergeSources) {
        const auto s = static_cast<std::size_t>(source);
        cells.push_back(ReceivedCell(f.lines.sources[s], f.sent[s]));
    }
    cells.push_back(std::to_string(f.lines.torn));
    cells.push_back(std::to_string(f.lines.groupsSplit) + " of " + std::to_string(f.lines.groups));
    for (const MergeSource source : kAllMergeSources) {
        cells.push_back(LatencyCell(f.millis[static_cast<std::size_t>(source)]));
    }
    const double megabytes = static_cast<double>(f.inputBytes) / 1e6;
    cells.push_back(megabytes > 0 ? Number(f.cpuSeconds / megabytes) + " s" : "—");
    cells.push_back(Number(static_cast<double>(f.peakResidentKilobytes) / 1024.0) + " MiB");
    return cells;
}

std::string OrderNote(const LineTally& lines)
{
    std::string text;
    for (const MergeSource source : kAllMergeSources) {
        const SourceTally& t = lines.sources[static_cast<std::size_t>(source)];
        text.append(text.empty() ? "" : ", ")
            .append(NameOf(source))
            .append(" ")   // appended: GCC 12 -Wrestrict misfires on " " + text
            .append(std::to_string(t.duplicates))
            .append(" / ")
            .append(std::to_string(t.outOfOrder));
    }
    return "sentences read twice / out of their source's order, over the readers: " + text;
}

std::string FiguresNotes(const MergeResult& result)
{
    const MergeFigures& f = *result.figures;
    std::string notes = "- " + result.relay + ": ready " + Number(f.readySeconds) + " s after its launch";
    notes += f.notReady.empty() ? "" : " (the warm-up gave up: " + f.notReady + ")";
    notes += "; " + std::to_string(f.inputBytes) + " bytes of input; " + OrderNote(f.lines) + ".\n";
    notes += "  - latency to its TCP clients alone (median / p99): " + PerSource(f.tcpMillis, LatencyCell) +
             "; the slowest sentence at any reader: " + PerSource(f.millis, MaxCell) +
             "; sentences later than 1 ms, over every reader: " + PerSource(f.millis, LateCell) + ".\n";
    notes += "  - lines read that were not one of the sentences sent, byte for byte: " + std::to_string(f.lines.torn) +
             " torn, " + std::to_string(f.lines.madeUp) + " well-formed (made up or changed)";
    notes += f.lines.firstMadeUp.empty() ? "" : "; the first made up: `" + f.lines.firstMadeUp + "`";
    notes += f.lines.firstTorn.empty() ? "" : "; the first torn line: `" + f.lines.firstTorn + "`";
    notes += ".\n";
    return notes + (f.ownCounts.empty() ? "" : "  - its own count: " + f.ownCounts + ".\n");
}

}  // namespace

std::string MergeTable(const std::vector<MergeResult>& results)
{
    std::string table =
        MarkdownRow({"relay (readers)", "GPS received / sent", "AIS received / sent", "wind received / sent",
                     "torn lines", "AIS groups split", "GPS latency median / p99", "AIS latency median / p99",
                     "wind latency median / p99", "CPU per MB of input", "peak RSS"}) +
        "|---|---|---|---|---|---|---|---|---|---|---|\n";
    for (const MergeResult& result : results) {
        table += MarkdownRow(Row(result));
    }
    return table;
}

std::string MergeNotes(const std::vector<MergeResult>& results)
{
    std::string notes;
    for (const MergeResult& result : results) {
        if (result.figures) {
            notes += FiguresNotes(result);
        } else if (!result.skipped.empty()) {
            notes += "- " + result.relay + " skipped: " + result.skipped + "\n";
        }
    }
    return notes;
}

std::string MergeFailureList(const std::vector<MergeResult>& results)
{
    std::string list;
    for (const MergeResult& result : results) {
        if (!result.figures && result.skipped.empty()) {
            AddFailures(list, result.relay + ", merge run", {result.failure});
        }
    }
    return list;
}

}  // namespace tavrel::bench
