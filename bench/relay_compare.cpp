// relay_compare: Tavrel and socat side by side, as real processes on real
// pseudo-terminals, in alternating runs of the same invocation; prints one
// markdown table with the targets, the idle wake-ups by thread, and
// the realistic run (NMEA at 4800 and 115200 baud, one output never read).
//
//   cmake --preset bench && cmake --build --preset bench && build/bench/bench/relay_compare [--quick]
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <thread>

#include "bench/options.h"
#include "bench/proc_stats.h"
#include "bench/report.h"
#include "bench/report_cells.h"
#include "bench/sessions.h"
#include "bench/socat_relay.h"
#include "bench/tavrel_relay.h"
#include "support/temp_device.h"

namespace {

using namespace tavrel::bench;

enum class RelayKind { Tavrel, Socat };

constexpr int kRealisticOutputs = 9;

// The two relays in the order of this turn, so that neither always goes first.
std::vector<RelayKind> InTurn(std::size_t turn)
{
    return turn % 2 == 0 ? std::vector{RelayKind::Tavrel, RelayKind::Socat}
                         : std::vector{RelayKind::Socat, RelayKind::Tavrel};
}

std::unique_ptr<Relay> MakeRelay(RelayKind kind, const std::filesystem::path& folder, const InputLine& input,
                                 int outputs, int baud)
{
    if (kind == RelayKind::Tavrel) {
        const int baudIndex = baud == 4800 ? 5 : 12;
        return std::make_unique<TavrelRelay>(folder, input.tty(), outputs, baudIndex);
    }
    return std::make_unique<SocatRelay>(folder, input.tty(), outputs);
}

// The last lines of a relay's log, to say why a run failed.
std::string LogTail(const std::filesystem::path& log)
{
    std::ifstream file(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    std::string tail;
    for (std::size_t i = lines.size() > 3 ? lines.size() - 3 : 0; i < lines.size(); ++i) {
        tail += " / " + lines[i];
    }
    return tail.empty() ? "" : " (log:" + tail + ")";
}

// Runs `measure` on a fresh relay and input; a failure is recorded, not fatal.
template <typename Figures, typename Measure>
std::optional<Figures> Attempt(RelayKind kind, int outputs, int baud, std::string& failure, Measure measure)
{
    const tavrel::testing::TempFolder folder;
    const InputLine input;
    std::unique_ptr<Relay> relay;
    try {
        relay = MakeRelay(kind, folder.path(), input, outputs, baud);
        return measure(*relay, input);
    } catch (const std::exception& error) {
        failure = error.what() + (relay ? LogTail(relay->log()) : "");
        return std::nullopt;
    }
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
                const auto figures = Attempt<RunFigures>(kind, c.outputs, 115200, failure,
                                                         [&](Relay& relay, const InputLine& input) {
                                                             return MeasureRun(relay, input, options.plan, random);
                                                         });
                if (figures) {
                    runs.runs.push_back(*figures);
                } else {
                    runs.failures.push_back(failure);
                }
            }
        }
    }
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
            result.figures = Attempt<RealisticFigures>(kind, kRealisticOutputs, baud, result.failure,
                                                       [&](Relay& relay, const InputLine& input) {
                                                           return MeasureRealistic(relay, input, plan);
                                                       });
            results.push_back(result);
        }
    }
    return results;
}

// How each figure was taken, printed under the tables.
const char* const kMethod =
    "How: each run starts the relay afresh on a new input pseudo-terminal (Tavrel on a fresh device, input COM9, "
    "Autostart, headless; socat as one process, or socat | tee | one socat per output, in one process group). "
    "Latency: one byte at a time after a gap drawn evenly from 0.2–30 ms, from just before its write on the input "
    "until the last output has read it (one reader thread polls every output). Throughput: 100-byte writes as fast "
    "as the input takes them, every output read and compared byte for byte; from the first write to the last byte at "
    "the slowest output. CPU: utime + stime of every process of the relay (/proc/<pid>/stat, 10 ms ticks) over the "
    "throughput phase, per 10^6 bytes of input. Wake-ups: voluntary + nonvoluntary context switches of each thread "
    "(/proc/<pid>/task/*/status) with nothing sent. VmRSS: summed over the relay's processes after the throughput "
    "phase (shared library pages count once per process). Launch: from just before the spawn, while the input sends a "
    "byte every millisecond; a port counts as existing once its link opens and stays (Tavrel probes its ports "
    "first). SIGTERM → exit: until waitpid has returned for every process.\n";

std::string LoadAverage()
{
    const std::string text = ReadProcText("/proc/loadavg");
    return text.substr(0, text.find(' '));
}

void PrintReport(const Options& options, const std::vector<ComparedRuns>& compared,
                 const std::vector<RealisticResult>& realistic, const std::string& loadBefore)
{
    std::cout << "## Tavrel and socat side by side (" << (options.quick ? "quick" : "full") << " mode)\n\n"
              << options.runs << " alternating run(s) of each relay per output count; "
              << options.plan.latencySamples << " latency bytes and " << options.plan.throughputBytes / 1'000'000
              << " MB of throughput per run; " << options.plan.idle.count() / 1000 << " s idle. "
              << "Medians over the runs, (min–max) when there are several; latency pooled over the runs. "
              << "Load average " << loadBefore << " before, " << LoadAverage() << " after, on "
              << std::thread::hardware_concurrency() << " CPUs.\n\n"
              << SideBySideTable(compared) << "\n### Wake-ups with an idle input, by thread\n\n"
              << IdleThreadTable(compared);
    if (options.realistic) {
        std::cout << "\n### Realistic run: NMEA sentences paced at the baud rate for " << options.neverReadSeconds
                  << " s, " << kRealisticOutputs << " outputs, the last never read\n\n"
                  << "Target: nothing missing on the read outputs; memory flat.\n\n"
                  << RealisticTable(realistic, kRealisticOutputs);
    }
    std::cout << "\n" << kMethod;
    const std::string failures = FailureList(compared, realistic);
    if (!failures.empty()) {
        std::cout << "\n### Runs that failed\n\n" << failures;
    }
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
    MeasureSideBySide(*options, compared);
    const std::vector<RealisticResult> realistic =
        options->realistic ? MeasureRealisticRuns(*options) : std::vector<RealisticResult>{};
    PrintReport(*options, compared, realistic, loadBefore);
    return FailureList(compared, realistic).empty() ? 0 : 1;
}
