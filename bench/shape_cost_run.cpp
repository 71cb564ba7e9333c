#include "bench/shape_cost_run.h"

#include <thread>

#include "bench/merge_streams.h"
#include "bench/phases.h"
#include "bench/shape_streams.h"
#include "bench/thread_cpu.h"

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

// How long the relay may take from its launch until every output reads.
constexpr std::chrono::seconds kLaunchLimit = 60s;

}  // namespace

void LaunchAndWarmUp(Relay& relay, const InputLine& input, OutputReaders& readers)
{
    MeasureLaunch(relay, input, readers, kLaunchLimit, WarmUpSentence(MergeSource::Gps, 0));
    readers.Drain(500ms);
}

ShapeCostFigures MeasureShapeCost(Relay& relay, const InputLine& input, std::chrono::seconds length)
{
    OutputReaders readers(relay.outputLinks());
    LaunchAndWarmUp(relay, input, readers);
    const NmeaStream stream = MixedStream(length);
    ShapeCostFigures figures;
    figures.outputBytes.assign(readers.size(), 0);
    const pid_t process = relay.processes().front();
    WriterProgress progress;
    const ThreadRunTimes before = RunTimesOf(process);
    const Clock::time_point start = Clock::now();
    std::jthread writer([&] {
        SendPaced(input, stream, kShapeBytesPerSecond, start, start + length, progress);
        progress.done = true;
    });
    ReadWhileWriting(
        readers, progress,
        [&](std::size_t output, std::span<const unsigned char> bytes, Clock::time_point) {
            figures.outputBytes[output] += bytes.size();
        },
        [] { return false; });
    const ThreadCpu cpu = CpuBetween(before, RunTimesOf(process));
    relay.Terminate();
    figures.inputBytes = progress.accepted;
    figures.workerSeconds = cpu.busiestSeconds;
    figures.processSeconds = cpu.allSeconds;
    return figures;
}

}  // namespace tavrel::bench
