// Throughput: the pattern in 100-byte writes as fast as the input takes
// them, every output read and checked byte for byte, timed from the first
// write until the last byte reached the slowest output; the relay's CPU time
// over the same stretch.
#include <algorithm>
#include <thread>

#include "bench/phases.h"
#include "testkit/proc_stats.h"
#include "bench/test_streams.h"

namespace tavrel::bench {
namespace {

constexpr std::size_t kWriteSize = 100;

}  // namespace

ThroughputFigures MeasureThroughput(const Relay& relay, const InputLine& input, OutputReaders& readers,
                                    std::size_t bytes, std::chrono::seconds limit)
{
    const std::vector<unsigned char> pattern = PositionPattern(bytes);
    std::vector<std::optional<StreamCheck>> checks(readers.size(), StreamCheck(pattern));
    const std::vector<pid_t> processes = relay.processes();
    WriterProgress progress;
    const double cpuBefore = testing::CpuSeconds(processes);
    const Clock::time_point start = Clock::now();
    std::jthread writer([&] {
        for (std::size_t offset = 0; offset < pattern.size(); offset += kWriteSize) {
            const auto chunk = std::span(pattern).subspan(offset, std::min(kWriteSize, pattern.size() - offset));
            const std::size_t written = input.Write(chunk, start + limit);
            progress.accepted += written;
            if (written < chunk.size()) {
                break;
            }
        }
        progress.done = true;
    });
    const Clock::time_point lastByte = ReadUntilDelivered(readers, checks, progress, start);
    ThroughputFigures figures;
    figures.cpuSeconds = testing::CpuSeconds(processes) - cpuBefore;
    figures.accepted = progress.accepted;
    figures.seconds = Seconds(lastByte - start);
    figures.delivery = Tally(checks, figures.accepted);
    return figures;
}

}  // namespace tavrel::bench
