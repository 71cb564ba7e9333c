// relay_compare: Tavrel and socat side by side, as real processes on real
// pseudo-terminals, in alternating runs of the same invocation; prints one
// markdown table with the targets set for Tavrel, the idle wake-ups by thread, and
// the realistic run (NMEA at 4800 and 115200 baud, one output never read); then
// the same over TCP with ser2net beside them (see network_section.h); then
// three inputs merged, with Signal K beside Tavrel (see merge_section.h); then
// Tavrel's shaped outputs and talk back (see shape_section.h); then Tavrel
// publishing to an MQTT broker (see mqtt_section.h).
//
//   cmake --preset bench && cmake --build --preset bench && build/bench/bench/relay_compare [--quick]
#include <cstdio>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "bench/attempt.h"
#include "bench/merge_section.h"
#include "bench/mqtt_section.h"
#include "bench/network_section.h"
#include "bench/options.h"
#include "testkit/proc_stats.h"
#include "bench/report.h"
#include "bench/report_cells.h"
#include "bench/report_page.h"
#include "bench/sessions.h"
#include "bench/shape_section.h"
#include "bench/socat_relay.h"
#include "bench/tavrel_relay.h"

namespace {

using namespace tavrel::bench;

enum class RelayKind { Tavrel, Socat };

std::unique_ptr<Relay> MakeRelay(RelayKind kind, const std::filesystem::path& folder, const InputLine& input,
                                 int outputs, int baud)
{
    if (kind == RelayKind::Tavrel) {
        const int baudIndex = baud == 4800 ? 5 : 12;
        return std::make_unique<TavrelRelay>(folder, input.tty(), outputs, baudIndex);
    }
    return std::make_unique<SocatRelay>(folder, input.tty(), outputs);
}

RelayMaker MakerOf(RelayKind kind, int outputs, int baud)
{
    return [=](const std::filesystem::path& folder, const InputLine& input) {
        return MakeRelay(kind, folder, input, outputs, baud);
    };
}

std::vector<RelayKind> InTurn(std::size_t turn)
{
    return tavrel::bench::InTurn(std::vector{RelayKind::Tavrel, RelayKind::Socat}, turn);
}

void MeasureSideBySide(const Options& options, std::vector<ComparedRuns>& compared)
{
    std::mt19937 random(8);
    for (int run = 0; run < options.runs; ++run) {
        for (std::size_t k = 0; k < compared.size(); ++k) {
            ComparedRuns& c = compared[k];
            for (const RelayKind kind : InTurn(static_cast<std::size_t>(run) + k)) {
                RelayRuns& runs = kind == RelayKind::Tavrel ? c.tavrel : c.socat;
                std::string failure;
                std::fprintf(stderr, "run %d of %d: %s, %s\n", run + 1, options.runs,
                             kind == RelayKind::Tavrel ? "Tavrel" : "socat", Outputs(c.outputs).c_str());
                const auto figures = Attempt<RunFigures>(
                    MakerOf(kind, c.outputs, 115200),
                    [&](Relay& relay, const InputLine& input) {
                        return MeasureRun(relay, input, options.plan, random);
                    },
                    failure);
                if (figures) {
                    runs.runs.push_back(*figures);
                } else {
                    runs.failures.push_back(failure);
                }
            }
        }
    }
}

std::string LoadAverage()
{
    const std::string text = tavrel::testing::ReadProcText("/proc/loadavg");
    return text.substr(0, text.find(' '));
}

std::vector<RealisticResult> MeasureRealisticRuns(const Options& options)
{
    std::vector<RealisticResult> results;
    std::size_t turn = 0;
    for (const int baud : {4800, 115200}) {
        for (const RelayKind kind : InTurn(turn++)) {
            RealisticResult result{baud, kind == RelayKind::Tavrel ? "Tavrel" : "socat", std::nullopt, ""};
            std::fprintf(stderr, "realistic run: %s at %d baud for %d s\n", result.relay.c_str(), baud,
                         options.neverReadSeconds);
            const RealisticPlan plan{baud, std::chrono::seconds(options.neverReadSeconds)};
            result.figures = Attempt<RealisticFigures>(
                MakerOf(kind, kRealisticRunOutputs, baud),
                [&](Relay& relay, const InputLine& input) { return MeasureRealistic(relay, input, plan); },
                result.failure);
            results.push_back(result);
        }
    }
    return results;
}

// The third of "min default max" in tcp_wmem.
std::string TcpSendBufferMax()
{
    std::istringstream fields(tavrel::testing::ReadProcText("/proc/sys/net/ipv4/tcp_wmem"));
    std::string minimum;
    std::string initial;
    std::string maximum = "?";
    fields >> minimum >> initial >> maximum;
    return maximum;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string error;
    const auto options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "relay_compare: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    const std::string loadBefore = LoadAverage();
    std::vector<ComparedRuns> compared(2);
    compared[0].outputs = 1;
    compared[1].outputs = 9;
    std::vector<RealisticResult> realistic;
    if (options->serial) {
        MeasureSideBySide(*options, compared);
        realistic = options->realistic ? MeasureRealisticRuns(*options) : std::vector<RealisticResult>{};
    }
    const NetworkResults network = options->network ? MeasureNetwork(*options) : NetworkResults{};
    const std::vector<MergeResult> merge = options->merge ? MeasureMergeSection(*options) : std::vector<MergeResult>{};
    const ShapeResults shape = options->shape ? MeasureShapeSection(*options) : ShapeResults{};
    const MqttResults mqtt = options->mqtt ? MeasureMqttSection(*options) : MqttResults{};
    const Machine machine{loadBefore, LoadAverage(), std::thread::hardware_concurrency(), TcpSendBufferMax()};
    std::cout << ReportPage(*options, machine, compared, realistic, network, merge, shape, mqtt);
    return FailureList(compared, realistic).empty() && NetworkFailureList(network).empty() &&
                   MergeFailureList(merge).empty() && ShapeFailureList(shape).empty() &&
                   MqttFailureList(mqtt).empty()
               ? 0
               : 1;
}
