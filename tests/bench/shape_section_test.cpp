// The shaping and talk section's arithmetic: the stream it sends, the talk
// lines told by their text, what the receiver's lines add up to, the run
// time of threads, and the goal's verdict taken from the right figures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "bench/merge_streams.h"
#include "bench/shape_report.h"
#include "bench/shape_streams.h"
#include "bench/talk_lines.h"
#include "bench/thread_cpu.h"

namespace {

using namespace tavrel::bench;
using namespace std::chrono_literals;

std::vector<std::string> Lines(const NmeaStream& stream)
{
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (const std::size_t end : stream.lineEnds) {
        lines.emplace_back(stream.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                           stream.bytes.begin() + static_cast<std::ptrdiff_t>(end));
        from = end;
    }
    return lines;
}

TEST(ShapeStreams, GpsAndAisFillTheLineAndFragmentsStayTogether)
{
    const std::vector<std::string> lines = Lines(MixedStream(10s));
    EXPECT_GE(MixedStream(10s).bytes.size(), static_cast<std::size_t>(kShapeBytesPerSecond * 10));
    EXPECT_TRUE(std::all_of(lines.begin(), lines.end(), [](const std::string& l) { return WellFormedSentence(l); }));
    for (const char* address : {"$GNGGA", "$GNRMC", "$GNGSA", "$GPGSV", "!AIVDM"}) {
        const auto starts = [&](const std::string& l) { return l.starts_with(address); };
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), starts)) << address;
    }
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].starts_with("!AIVDM,2,1,")) {
            EXPECT_TRUE(lines[i + 1].starts_with("!AIVDM,2,2,")) << lines[i + 1];
        }
    }
}

TEST(TalkLines, EachLineIsToldByItsTextAndNothingElseIs)
{
    const std::string line = TalkLine('B', 1234, 8);
    EXPECT_EQ(TalkLineOf(line), (TalkLineId{'B', 1234}));
    EXPECT_EQ(TalkLineOf(TalkLine('F', 7)), (TalkLineId{'F', 7}));
    std::string changed = line;
    changed[9] = '5';
    EXPECT_FALSE(TalkLineOf(changed));
    EXPECT_FALSE(TalkLineOf(line.substr(0, 12) + TalkLine('C', 1)));
    EXPECT_FALSE(TalkLineOf(Retalked("$GPGGA,1*00\r\n", "GN")));
}

TEST(TalkTally, LinesCountOnceAndTheFlooderIsTimedToItsLastLine)
{
    const Clock::time_point t0{};
    TalkSent sent;
    sent.latencyWrites = {t0, t0 + 100ms};
    sent.occasional = {2, 1};
    sent.floodStart = t0 + 1s;
    const std::vector<ArrivedLine> lines = {
        {TalkLine('L', 0), t0 + 3ms},       {TalkLine('L', 1), t0 + 101ms},  {TalkLine('L', 1), t0 + 150ms},
        {TalkLine('B', 0), t0 + 1s},        {TalkLine('B', 1), t0 + 1s},     {TalkLine('C', 4), t0 + 1s},
        {TalkLine('F', 0, 40), t0 + 1500ms}, {TalkLine('F', 1, 40), t0 + 3s}, {"$PBNCH,B,2,*5", t0 + 3s},
    };
    const TalkFigures figures = TallyTalk(lines, sent, 3840);
    EXPECT_EQ(figures.latencyMillis, (std::vector<double>{3, 1}));
    EXPECT_EQ(figures.occasionalSent, 3u);
    EXPECT_EQ(figures.occasionalWhole, 2u);
    EXPECT_EQ(figures.notWhole, 1u);
    EXPECT_EQ(figures.floodArrived, lines[6].text.size() + lines[7].text.size());
    EXPECT_EQ(figures.floodAllArrived, figures.floodArrived + lines[3].text.size() * 2 + lines[5].text.size());
    EXPECT_DOUBLE_EQ(FloodRate(figures), static_cast<double>(figures.floodArrived) / 2.0);
}

TEST(ThreadCpu, TheBusiestThreadAndEveryThreadAreCountedBetweenSamples)
{
    EXPECT_EQ(RunNanosecondsFromSchedstat("123456789 2000 17\n"), 123456789u);
    EXPECT_FALSE(RunNanosecondsFromSchedstat(""));
    EXPECT_FALSE(RunNanosecondsFromSchedstat("12x 3"));
    const ThreadCpu cpu = CpuBetween({{10, 1'000'000'000}, {11, 500}, {12, 9}},
                                     {{10, 1'250'000'000}, {11, 500'000'500}, {13, 100'000'000}});
    EXPECT_EQ(cpu.busiest, 11);
    EXPECT_DOUBLE_EQ(cpu.busiestSeconds, 0.5);
    EXPECT_DOUBLE_EQ(cpu.allSeconds, 0.85);
}

TEST(ThreadCpu, ASpinningThreadOfThisProcessIsItsBusiest)
{
    std::atomic<pid_t> spinner{0};
    std::atomic<bool> stop{false};
    const ThreadRunTimes before = RunTimesOf(::getpid());
    std::jthread spin([&] {
        spinner = ::gettid();
        while (!stop) {
        }
    });
    std::this_thread::sleep_for(200ms);
    const ThreadCpu cpu = CpuBetween(before, RunTimesOf(::getpid()));
    stop = true;
    EXPECT_EQ(cpu.busiest, spinner.load());
    EXPECT_GT(cpu.busiestSeconds, 0.01);
}

ShapeCostResult CostRun(std::size_t inputBytes, double workerSeconds)
{
    return {{}, ShapeCostFigures{inputBytes, workerSeconds, workerSeconds * 2, {}}, ""};
}

TEST(ShapeReport, TheGoalComparesTheWorkersCpuPerMegabyte)
{
    ShapeResults results{CostRun(2'000'000, 1.0), CostRun(1'000'000, 0.9), {}};
    EXPECT_DOUBLE_EQ(*WorkerPerMegabyte(results.unshaped), 0.5);
    EXPECT_DOUBLE_EQ(*ShapingCostRatio(results), 1.8);
    EXPECT_NE(ShapeTable(results).find("at most 2.00×: met"), std::string::npos) << ShapeTable(results);
    results.shaped = CostRun(1'000'000, 1.1);
    EXPECT_NE(ShapeTable(results).find("at most 2.00×: missed"), std::string::npos) << ShapeTable(results);
    results.shaped = {{}, std::nullopt, "no port"};
    EXPECT_FALSE(ShapingCostRatio(results));
    EXPECT_NE(ShapeFailureList(results).find("shaped run: no port"), std::string::npos) << ShapeFailureList(results);
}

}  // namespace
