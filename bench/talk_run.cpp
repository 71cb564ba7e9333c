#include "bench/talk_run.h"

#include <thread>

#include "bench/input_receiver.h"
#include "bench/phases.h"
#include "bench/shape_cost_run.h"
#include "bench/shape_streams.h"
#include "bench/talk_phases.h"
#include "bench/thread_cpu.h"

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

// After the flood, what the relay still holds of it reaches the input at the
// line rate: the flooder's second of waiting lines and what its port kept.
constexpr auto kSettle = 4s;

// Reads the talking ports, dropping the stream, until asked to stop.
void ReadPorts(OutputReaders& readers, const std::stop_token& stop)
{
    while (!stop.stop_requested()) {
        readers.Read(20ms, [](std::size_t, std::span<const unsigned char>, Clock::time_point) {});
    }
}

}  // namespace

TalkFigures MeasureTalk(Relay& relay, const InputLine& input, const TalkPlan& plan)
{
    const TalkingPrograms programs(relay.outputLinks());
    OutputReaders readers(programs.Openers());
    LaunchAndWarmUp(relay, input, readers);
    const auto length = std::chrono::ceil<std::chrono::seconds>(kLatencyInterval * plan.latencyLines + plan.flood +
                                                                kSettle);
    const NmeaStream stream = MixedStream(length);
    InputReceiver receiver(input);
    std::jthread reader([&](std::stop_token stop) { ReadPorts(readers, stop); });
    const Clock::time_point start = Clock::now();
    WriterProgress progress;
    std::jthread streamer([&] { SendPaced(input, stream, kShapeBytesPerSecond, start, start + length, progress); });
    TalkSent sent;
    sent.latencyWrites = TalkAtIntervals(programs, plan.latencyLines, start);
    const pid_t process = relay.processes().front();
    const ThreadRunTimes beforeFlood = RunTimesOf(process);
    Flood(programs, plan.flood, sent);
    const ThreadCpu flood = CpuBetween(beforeFlood, RunTimesOf(process));
    streamer.join();   // the stream ends at least kSettle after the flood
    const std::vector<ArrivedLine> lines = receiver.Stop();
    reader.request_stop();
    reader.join();
    relay.Terminate();
    TalkFigures figures = TallyTalk(lines, sent, kShapeBytesPerSecond);
    figures.floodWorkerSeconds = flood.busiestSeconds;
    figures.floodProcessSeconds = flood.allSeconds;
    return figures;
}

}  // namespace tavrel::bench
