// The realistic run: NMEA sentences paced at a baud rate, written a sentence
// at a time as a receiver's driver hands them over, to nine outputs of which
// one is opened but never read, as by a program that hangs.
#include <algorithm>
#include <thread>

#include "bench/phases.h"
#include "testkit/proc_stats.h"
#include "bench/sessions.h"
#include "bench/test_streams.h"

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

// When the line, at `bytesPerSecond`, has finished the bytes before `offset`.
Clock::time_point DueTime(Clock::time_point start, std::size_t offset, double bytesPerSecond)
{
    return start + std::chrono::duration_cast<Clock::duration>(
                       std::chrono::duration<double>(static_cast<double>(offset) / bytesPerSecond));
}

}  // namespace

std::size_t SendPaced(const InputLine& input, const NmeaStream& stream, double bytesPerSecond,
                      Clock::time_point start, Clock::time_point end, WriterProgress& progress,
                      std::vector<Clock::time_point>* sentAt)
{
    std::size_t lineStart = 0;
    bool refused = false;
    for (const std::size_t lineEnd : stream.lineEnds) {
        const Clock::time_point due = DueTime(start, lineStart, bytesPerSecond);
        if (due >= end) {
            break;
        }
        if (!refused) {
            std::this_thread::sleep_until(due);
            if (sentAt != nullptr) {
                sentAt->push_back(Clock::now());
            }
            const auto line = std::span(stream.bytes).subspan(lineStart, lineEnd - lineStart);
            const std::size_t written = input.Write(line, end);
            progress.accepted += written;
            refused = written < line.size();
        }
        lineStart = lineEnd;
    }
    std::this_thread::sleep_until(end);
    return lineStart;
}

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
    figures.residentStartKilobytes = testing::ResidentKilobytes(processes);
    WriterProgress progress;
    const Clock::time_point start = Clock::now();
    std::jthread writer([&] {
        figures.scheduled = SendPaced(input, stream, rate, start, start + plan.duration, progress);
        figures.residentEndKilobytes = testing::ResidentKilobytes(processes);
        progress.done = true;
    });
    ReadUntilDelivered(readers, checks, progress, start);
    writer.join();
    figures.accepted = progress.accepted;
    figures.byTheEnd = Tally(checks, figures.accepted);

    // A relay that holds the others back for the hung reader lets them go on once it reads.
    readers.SetPaused(neverRead, false);
    checks[neverRead].emplace(stream.bytes);
    ReadUntilDelivered(readers, checks, progress, start);
    figures.neverReadHeld = checks[neverRead]->received();
    checks[neverRead].reset();
    figures.forGood = Tally(checks, figures.accepted);
    relay.Terminate();
    return figures;
}

}  // namespace tavrel::bench
