#include "bench/report_page.h"

#include <sstream>

namespace tavrel::bench {
namespace {

const char* const kMethod =
    "How: each run starts the relay afresh on a new input pseudo-terminal (Tavrel on a fresh device, input COM9, "
    "Autostart, headless; socat as one process, or socat | tee | one socat per output, in one process group). "
    "Latency: numbered bytes written at random moments (gaps of 0.2 ms plus an exponential wait of 10 ms on "
    "average, not waiting for the relay, so a polling relay is met at every phase of its period), each from just "
    "before its write on the input until the last output has read it (one reader thread polls every output). Throughput: 100-byte writes as fast "
    "as the input takes them, every output read and compared byte for byte; from the first write to the last byte at "
    "the slowest output. CPU: utime + stime of every process of the relay (/proc/<pid>/stat, 10 ms ticks) over the "
    "throughput phase, per 10^6 bytes of input. Wake-ups: voluntary + nonvoluntary context switches of each thread "
    "(/proc/<pid>/task/*/status) with nothing sent. VmRSS: summed over the relay's processes after the throughput "
    "phase (shared library pages count once per process). Launch: from just before the spawn, while the input sends a "
    "byte every millisecond; a port counts as existing once its link opens and stays (Tavrel probes its ports "
    "first). SIGTERM → exit: until waitpid has returned for every process.\n";

}  // namespace

std::string ReportPage(const Options& options, const Machine& machine, const std::vector<ComparedRuns>& compared,
                       const std::vector<RealisticResult>& realistic)
{
    std::ostringstream page;
    page << "## Tavrel and socat side by side (" << (options.quick ? "quick" : "full") << " mode)\n\n"
         << options.runs << " alternating run(s) of each relay per output count; " << options.plan.latencySamples
         << " latency bytes and " << options.plan.throughputBytes / 1'000'000 << " MB of throughput per run; "
         << options.plan.idle.count() / 1000 << " s idle. "
         << "Medians over the runs, (min–max) when there are several; latency pooled over the runs. "
         << "Load average " << machine.loadBefore << " before, " << machine.loadAfter << " after, on "
         << machine.cpus << " CPUs.\n\n"
         << SideBySideTable(compared) << "\n### Wake-ups with an idle input, by thread\n\n"
         << IdleThreadTable(compared);
    if (options.realistic) {
        page << "\n### Realistic run: NMEA sentences paced at the baud rate for " << options.neverReadSeconds << " s, "
             << kRealisticRunOutputs << " outputs, the last never read\n\n"
             << "Target: nothing missing on the read outputs; memory flat.\n\n"
             << RealisticTable(realistic, kRealisticRunOutputs);
    }
    page << "\n" << kMethod;
    const std::string failures = FailureList(compared, realistic);
    if (!failures.empty()) {
        page << "\n### Runs that failed\n\n" << failures;
    }
    return page.str();
}

}  // namespace tavrel::bench
