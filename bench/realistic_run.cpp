// The realistic run: NMEA sentences paced at a baud rate, written a sentence
// at a time as a receiver's driver hands them over, to nine outputs of which
// one is opened but never read, as by a program that hangs.
#include <algorithm>
#include <thread>

#include "bench/phases.h"
#include "bench/proc_stats.h"
#include "bench/sessions.h"
#include "bench/test_streams.h"

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

// Sends each sentence when the line, at `bytesPerSecond`, would have
// finished the ones before it; a sentence the input does not take by the end
// of the run is not sent. Returns the bytes due by the end.
std::size_t SendPaced(const InputLine& input, const NmeaStream& stream, double bytesPerSecond,
                      Clock::time_point start, Clock::time_point end, WriterProgress& progress)
{
    std::size_t lineStart = 0;
    for (const std::size_t lineEnd : stream.lineEnds) {
        const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(static_cast<double>(lineStart) / bytesPerSecond));
        if (due >= end) {
            break;
        }
        std::this_thread::sleep_until(due);
        const auto line = std::span(stream.bytes).subspan(lineStart, lineEnd - lineStart);
        const std::size_t written = input.Write(line, end);
        progress.accepted += written;
        lineStart = lineEnd;
        if (written < line.size()) {
            break;
        }
    }
    return std::min(stream.bytes.size(),
                    static_cast<std::size_t>(bytesPerSecond * Seconds(end - start)));
}

}  // namespace

double BytesPerSecond(int baud)
{
    return static_cast<double>(baud) / 10.0;
}

RealisticFigures MeasureRealistic(Relay& relay, const InputLine& input, const RealisticPlan& plan)
{
    RealisticFigures figures;
    OutputReaders readers(relay.outputLinks());
    MeasureLaunch(relay, input, readers, 30s);
    readers.Drain(300ms);
    const std::size_t neverRead = readers.size() - 1;
    readers.SetPaused(neverRead, true);

    const double rate = BytesPerSecond(plan.baud);
    const NmeaStream stream = NmeaSentences(static_cast<std::size_t>(rate * static_cast<double>(plan.duration.count())) + 1);
    std::vector<std::optional<StreamCheck>> checks(readers.size(), StreamCheck(stream.bytes));
    checks[neverRead].reset();
    const std::vector<pid_t> processes = relay.processes();
    figures.residentStartKilobytes = ResidentKilobytes(processes);
    WriterProgress progress;
    const Clock::time_point start = Clock::now();
    std::jthread writer([&] {
        figures.scheduled = SendPaced(input, stream, rate, start, start + plan.duration, progress);
        figures.residentEndKilobytes = ResidentKilobytes(processes);
        progress.done = true;
    });
    ReadUntilDelivered(readers, checks, progress, start);
    writer.join();

    figures.accepted = progress.accepted;
    figures.delivery = Tally(checks, figures.accepted);
    readers.SetPaused(neverRead, false);
    figures.neverReadHeld = readers.Drain(500ms);
    relay.Terminate();
    return figures;
}

}  // namespace tavrel::bench
