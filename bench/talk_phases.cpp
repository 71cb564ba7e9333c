#include "bench/talk_phases.h"

#include <thread>

#include "bench/input_line.h"
#include "bench/talk_lines.h"

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

// The two occasional talkers write in turn, each once per two of these.
constexpr auto kOccasionalTurn = 125ms;
// A line that the port does not take whole in this long is left as it is.
constexpr auto kWriteLimit = 1s;
// The padding of the flooder's lines, as long as a receiver's longer commands.
constexpr std::size_t kFloodPadding = 40;
constexpr std::size_t kOccasionalPadding = 8;

std::size_t WriteLine(int fd, const std::string& line, Clock::time_point deadline)
{
    return WriteWithin(fd, std::span(reinterpret_cast<const unsigned char*>(line.data()), line.size()), deadline);
}

// The flooder's lines, one after the other, until `end`; the bytes its port took.
std::size_t FloodUntil(int fd, Clock::time_point end)
{
    std::size_t written = 0;
    for (std::size_t number = 0; Clock::now() < end; ++number) {
        written += WriteLine(fd, TalkLine(kFlooder, number, kFloodPadding), end);
    }
    return written;
}

}  // namespace

std::vector<Clock::time_point> TalkAtIntervals(const TalkingPrograms& programs, std::size_t lines,
                                               Clock::time_point start)
{
    std::vector<Clock::time_point> writes;
    for (std::size_t number = 0; number < lines; ++number) {
        std::this_thread::sleep_until(start + kLatencyInterval * number);
        writes.push_back(Clock::now());
        WriteLine(programs.writer(0), TalkLine(kLatencyTalker, number), writes.back() + kWriteLimit);
    }
    return writes;
}

void Flood(const TalkingPrograms& programs, std::chrono::seconds length, TalkSent& sent)
{
    sent.floodStart = Clock::now();
    const Clock::time_point end = sent.floodStart + length;
    std::jthread flooder([&] { sent.floodWritten = FloodUntil(programs.writer(0), end); });
    for (std::size_t turn = 0; sent.floodStart + kOccasionalTurn * turn < end; ++turn) {
        std::this_thread::sleep_until(sent.floodStart + kOccasionalTurn * turn);
        const std::size_t talker = turn % kOccasionalTalkers.size();
        const std::string line = TalkLine(kOccasionalTalkers[talker], sent.occasional[talker]++, kOccasionalPadding);
        WriteLine(programs.writer(1 + talker), line, Clock::now() + kWriteLimit);
    }
}

}  // namespace tavrel::bench
