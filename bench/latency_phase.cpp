// Latency: numbered bytes sent one by one at random moments, each timed from
// just before its write on the input until the moment the last output has
// read it. The moments do not wait for the relay: each gap is 0.2 ms plus an
// exponential wait (10 ms on average), so a relay that polls is met at every
// phase of its period, whatever the period, and looks neither slower nor
// faster than it is on average.
#include <thread>

#include "bench/latency_ledger.h"
#include "bench/phases.h"

namespace tavrel::bench {
namespace {

Clock::duration RandomGap(std::mt19937& random)
{
    std::exponential_distribution<double> wait(1.0 / 10e-3);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(0.2e-3 + wait(random)));
}

}  // namespace

LatencyFigures MeasureLatency(const InputLine& input, OutputReaders& readers, std::size_t samples,
                              std::mt19937& random)
{
    LatencyLedger ledger(readers.size(), samples);
    std::vector<Clock::time_point> sentAt(samples);
    WriterProgress progress;
    std::jthread writer([&] {
        Clock::time_point due = Clock::now();
        for (std::size_t number = 0; number < samples; ++number) {
            due += RandomGap(random);
            std::this_thread::sleep_until(due);
            const unsigned char byte = LatencyLedger::ValueOf(number);
            sentAt[number] = Clock::now();
            if (input.WriteNow({&byte, 1}) != 1) {
                break;
            }
            progress.accepted = number + 1;
        }
        progress.done = true;
    });
    ReadWhileWriting(
        readers, progress,
        [&](std::size_t output, std::span<const unsigned char> bytes, Clock::time_point seen) {
            ledger.Read(output, bytes, seen);
        },
        [&] { return ledger.Complete(progress.accepted); });
    writer.join();
    return ledger.Figures(sentAt, progress.accepted);
}

}  // namespace tavrel::bench
