// The side-by-side run: launch, idle, latency, throughput, memory, SIGTERM.
#include "bench/phases.h"
#include "testkit/proc_stats.h"
#include "bench/sessions.h"

namespace tavrel::bench {

using namespace std::chrono_literals;

RunFigures MeasureRun(Relay& relay, const InputLine& input, const RunPlan& plan, std::mt19937& random)
{
    RunFigures figures;
    OutputReaders readers(relay.outputLinks());
    figures.launch = MeasureLaunch(relay, input, readers, 30s);
    readers.Drain(300ms);
    figures.idle = MeasureIdle(relay, plan.idle);
    figures.latency = MeasureLatency(input, readers, plan.latencySamples, random);
    figures.throughput = MeasureThroughput(relay, input, readers, plan.throughputBytes, plan.throughputLimit);
    figures.residentKilobytes = testing::ResidentKilobytes(relay.processes());
    const Clock::time_point signalled = Clock::now();
    relay.Terminate();
    figures.exitMs = Milliseconds(Clock::now() - signalled);
    figures.exit = relay.Outcome();
    return figures;
}

}  // namespace tavrel::bench
