// Reading streamed bytes until every checked output has them, and the tally
// of what did not arrive.
#include <algorithm>

#include "bench/phases.h"

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

constexpr auto kQuietAfterWriter = 2s;

bool AllDelivered(const std::vector<std::optional<StreamCheck>>& checks, std::size_t accepted)
{
    return std::all_of(checks.begin(), checks.end(), [&](const std::optional<StreamCheck>& check) {
        return !check || check->received() >= accepted;
    });
}

}  // namespace

void ReadWhileWriting(OutputReaders& readers, const WriterProgress& writer, const OutputReaders::Handler& take,
                      const std::function<bool()>& complete)
{
    Clock::time_point lastActivity = Clock::now();
    std::optional<Clock::time_point> writerDone;
    while (true) {
        const std::size_t active = readers.Read(50ms, take);
        const Clock::time_point now = Clock::now();
        lastActivity = active > 0 ? now : lastActivity;
        if (!writerDone && writer.done) {
            writerDone = now;
        }
        if (writerDone && (complete() || now - std::max(lastActivity, *writerDone) > kQuietAfterWriter)) {
            return;
        }
    }
}

Clock::time_point ReadUntilDelivered(OutputReaders& readers, std::vector<std::optional<StreamCheck>>& checks,
                                     const WriterProgress& writer, Clock::time_point start,
                                     const CheckedRead& checked)
{
    Clock::time_point lastByte = start;
    ReadWhileWriting(
        readers, writer,
        [&](std::size_t output, std::span<const unsigned char> bytes, Clock::time_point seen) {
            if (checks[output]) {
                checks[output]->Received(bytes);
                lastByte = seen;
                if (checked) {
                    checked(output, *checks[output], seen);
                }
            }
        },
        [&] { return AllDelivered(checks, writer.accepted); });
    return lastByte;
}

Delivery Tally(const std::vector<std::optional<StreamCheck>>& checks, std::size_t accepted)
{
    Delivery delivery;
    for (const auto& check : checks) {
        if (check) {
            delivery.Add(check->MissingOf(accepted), check->firstDifference());
        }
    }
    return delivery;
}

}  // namespace tavrel::bench
