#include "bench/shape_report.h"

#include "bench/percentiles.h"
#include "bench/report_cells.h"

namespace tavrel::bench {
namespace {

std::optional<double> PerMegabyte(const ShapeCostResult& result, double ShapeCostFigures::*seconds)
{
    if (!result.figures || result.figures->inputBytes == 0) {
        return std::nullopt;
    }
    return (*result.figures).*seconds / (static_cast<double>(result.figures->inputBytes) / 1e6);
}

std::string SecondsCell(std::optional<double> seconds)
{
    return seconds ? Number(*seconds) + " s" : "—";
}

std::string RatioCell(std::optional<double> ratio)
{
    return ratio ? Number(*ratio) + "×" : "—";
}

std::optional<double> Ratio(std::optional<double> value, std::optional<double> base)
{
    return value && base && *base > 0 ? std::optional(*value / *base) : std::nullopt;
}

std::vector<std::vector<std::string>> CostRows(const ShapeResults& results)
{
    const auto process = [](const ShapeCostResult& result) {
        return PerMegabyte(result, &ShapeCostFigures::processSeconds);
    };
    const std::optional<double> ratio = ShapingCostRatio(results);
    const std::optional<double> processRatio = Ratio(process(results.shaped), process(results.unshaped));
    return {
        {"the relay worker's CPU per MB of input, 9 transparent ports",
         SecondsCell(WorkerPerMegabyte(results.unshaped)), ""},
        {"the relay worker's CPU per MB of input, 9 shaped ports (3 shapes, 3 ports each)",
         SecondsCell(WorkerPerMegabyte(results.shaped)), ""},
        {"shaped / transparent, the worker", RatioCell(ratio),
         "at most " + Number(kShapingCostGoal) + "×: " + Verdict(AtMost(ratio, kShapingCostGoal))},
        {"the whole process's CPU per MB, transparent / shaped",
         SecondsCell(process(results.unshaped)) + " / " + SecondsCell(process(results.shaped)) + " (" +
             RatioCell(processRatio) + ")",
         ""},
    };
}

std::string LatencyCell(const TalkFigures& f)
{
    const auto latency = Summarize(f.latencyMillis);
    const std::string arrived = std::to_string(f.latencyMillis.size()) + " of " + std::to_string(f.latencySent) +
                                " lines arrived";
    return latency ? Number(latency->median) + " / " + Number(latency->p99) + " / " + Number(latency->max) +
                         " ms; " + arrived
                   : arrived;
}

// "3716 bytes/s, 96.8 % of the line rate".
std::string RateCell(double bytesPerSecond, double lineRate)
{
    return Number(bytesPerSecond) + " bytes/s, " + Number(100.0 * bytesPerSecond / lineRate) + " % of the line rate";
}

std::string FloodCell(const TalkFigures& f)
{
    return RateCell(FloodRate(f), f.lineRate) + " (" + Number(f.lineRate) + " bytes/s); its port took " +
           std::to_string(f.floodWritten) + " bytes; all three talkers together " +
           RateCell(FloodAllRate(f), f.lineRate);
}

std::vector<std::vector<std::string>> TalkRows(const TalkResult& talk)
{
    if (!talk.figures) {
        return {{"talk back", "failed", ""}};
    }
    const TalkFigures& f = *talk.figures;
    return {
        {"talk latency at full input rate, the program's write → the input (median / p99 / max)", LatencyCell(f), ""},
        {"flood: the two occasional talkers' lines that reached the input whole",
         std::to_string(f.occasionalWhole) + " of " + std::to_string(f.occasionalSent),
         "all: " + Verdict(f.occasionalWhole == f.occasionalSent)},
        {"flood: what the flooder got through", FloodCell(f), ""},
        {"flood: the relay's CPU over the flood, its worker / the whole process",
         Number(f.floodWorkerSeconds) + " s / " + Number(f.floodProcessSeconds) + " s", ""},
        {"lines at the input that were not one talk line whole", std::to_string(f.notWhole),
         "none: " + Verdict(f.notWhole == 0)},
    };
}

// "only GGA,RMC; talker GN:GP: 9512, 9512, 9512 bytes": the ports of each shape in turn.
std::string BytesByShape(const ShapeCostResult& result)
{
    std::string text;
    const std::vector<std::size_t>& bytes = result.figures->outputBytes;
    for (std::size_t port = 0; port < bytes.size() && port < result.portShapes.size(); ++port) {
        const std::string& shape = result.portShapes[port];
        const bool first = port == 0 || result.portShapes[port - 1] != shape;
        text.append(first ? (text.empty() ? "" : " bytes; ") + (shape.empty() ? "transparent" : shape) + ": " : ", ")
            .append(std::to_string(bytes[port]));
    }
    return text + " bytes";
}

std::string CostNotes(const std::string& name, const ShapeCostResult& result)
{
    if (!result.figures) {
        return "";
    }
    const ShapeCostFigures& f = *result.figures;
    return "- " + name + ": " + std::to_string(f.inputBytes) + " bytes of input; the worker ran " +
           Number(f.workerSeconds) + " s, the whole process " + Number(f.processSeconds) +
           " s; read at the ports: " + BytesByShape(result) + ".\n";
}

}  // namespace

std::optional<double> WorkerPerMegabyte(const ShapeCostResult& result)
{
    return PerMegabyte(result, &ShapeCostFigures::workerSeconds);
}

std::optional<double> ShapingCostRatio(const ShapeResults& results)
{
    return Ratio(WorkerPerMegabyte(results.shaped), WorkerPerMegabyte(results.unshaped));
}

std::string ShapeTable(const ShapeResults& results)
{
    std::string table = MarkdownRow({"measure", "Tavrel", "goal"}) + "|---|---|---|\n";
    for (const auto& rows : {CostRows(results), TalkRows(results.talk)}) {
        for (const std::vector<std::string>& row : rows) {
            table += MarkdownRow(row);
        }
    }
    return table;
}

std::string ShapeNotes(const ShapeResults& results)
{
    return CostNotes("transparent", results.unshaped) + CostNotes("shaped", results.shaped);
}

std::string ShapeFailureList(const ShapeResults& results)
{
    std::string list;
    for (const auto& [what, failure] : {std::pair{"transparent", &results.unshaped.failure},
                                        std::pair{"shaped", &results.shaped.failure},
                                        std::pair{"talk", &results.talk.failure}}) {
        if (!failure->empty()) {
            AddFailures(list, std::string("Tavrel, ") + what + " run", {*failure});
        }
    }
    return list;
}

}  // namespace tavrel::bench
