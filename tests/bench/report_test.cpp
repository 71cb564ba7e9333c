// The report: figures derived right from what was measured, numbers and
// ranges written plainly, and each target's verdict taken from the right
// figures of the same invocation.
#include <gtest/gtest.h>

#include "bench/report.h"
#include "bench/report_cells.h"
#include "bench/report_page.h"
#include "bench/run_measures.h"

namespace {

using namespace tavrel::bench;

// A run whose latency samples are `millis` and whose throughput phase took
// `megabytes` in `seconds` at `cpuSeconds`, with `missing` bytes missing.
RunFigures MadeRun(std::vector<double> millis, double megabytes, double seconds, double cpuSeconds,
               std::size_t missing = 0)
{
    RunFigures run;
    run.latency.millis = std::move(millis);
    run.throughput.accepted = static_cast<std::size_t>(megabytes * 1e6);
    run.throughput.seconds = seconds;
    run.throughput.cpuSeconds = cpuSeconds;
    run.throughput.delivery.Add(missing, std::nullopt);
    run.launch = {30, 70};
    run.exitMs = 5;
    run.exit = {"exit 1, settings kept, links removed", true};
    return run;
}

std::string RowOf(const std::string& table, const std::string& start)
{
    const std::size_t at = table.find("| " + start);
    return at == std::string::npos ? "" : table.substr(at, table.find('\n', at) - at);
}

TEST(ReportCells, NumbersKeepAboutThreeDigits)
{
    EXPECT_EQ(Number(0.1734), "0.173");
    EXPECT_EQ(Number(5.214), "5.21");
    EXPECT_EQ(Number(51.64), "51.6");
    EXPECT_EQ(Number(130.4), "130");
    EXPECT_EQ(Number(0), "0.000");
}

TEST(ReportCells, RepeatedFiguresShowTheirMedianAndRange)
{
    EXPECT_EQ(Figure({}, "ms"), "—");
    EXPECT_EQ(Figure({2.5}, "ms"), "2.50 ms");
    EXPECT_EQ(Figure({3, 1, 2}, "ms"), "2.00 ms (1.00–3.00)");
}

TEST(ReportCells, VerdictsNeedBothFigures)
{
    EXPECT_EQ(Verdict(AtMost(1.0, 1.0)), "met");
    EXPECT_EQ(Verdict(Below(1.0, 1.0)), "missed");
    EXPECT_EQ(Verdict(AtLeast(5.0, 5.0)), "met");
    EXPECT_EQ(Verdict(AtMost(std::nullopt, 1.0)), "not measured");
    EXPECT_EQ(Verdict(AtMost(1.0, std::nullopt)), "not measured");
}

TEST(ReportCells, DeliveryNamesWhatWentWrong)
{
    Delivery delivery;
    EXPECT_EQ(DeliveryText(delivery), "every byte");
    delivery.Add(100, 400);
    delivery.Add(20, 900);
    EXPECT_EQ(DeliveryText(delivery), "100 bytes missing, the first wrong at byte 400");
}

TEST(RunMeasures, RatesArePerMegabyteOfInput)
{
    const RunFigures run = MadeRun({}, 10, 2, 0.5);
    EXPECT_DOUBLE_EQ(ThroughputMegabytesPerSecond(run), 5.0);
    EXPECT_DOUBLE_EQ(CpuSecondsPerMegabyte(run), 0.05);
    EXPECT_DOUBLE_EQ(FirstByteAfterPortsMs(run), 40.0);
    EXPECT_EQ(CpuSecondsPerMegabyte(RunFigures{}), 0.0);
}

TEST(RunMeasures, LatencyIsPooledOverTheRuns)
{
    RelayRuns relay;
    relay.runs = {MadeRun({1, 2, 3}, 1, 1, 0), MadeRun({4, 100}, 1, 1, 0)};
    const auto latency = PooledLatency(relay);
    ASSERT_TRUE(latency);
    EXPECT_EQ(latency->count, 5u);
    EXPECT_EQ(latency->median, 3);
    EXPECT_EQ(latency->max, 100);
}

TEST(Report, TargetsAreJudgedAgainstTheSocatFiguresOfTheSameInvocation)
{
    ComparedRuns one{1, {}, {}};
    one.tavrel.runs = {MadeRun({0.2, 0.2, 0.2}, 10, 1, 0.09)};
    one.socat.runs = {MadeRun({0.1, 0.1, 0.1}, 10, 1, 0.05)};
    ComparedRuns nine{9, {}, {}};
    nine.tavrel.runs = {MadeRun({0.3, 0.5, 0.9}, 10, 1, 0.2, 64)};
    nine.socat.runs = {MadeRun({0.2, 0.3, 2.0}, 10, 1, 0.2)};
    const std::string table = SideBySideTable({one, nine});

    // 0.2 ms against 1.5 × 0.1 ms.
    EXPECT_NE(RowOf(table, "latency median, 1 output").find("(0.150 ms): missed"), std::string::npos) << table;
    EXPECT_NE(RowOf(table, "latency p99, 9 outputs").find("< 1 ms: met"), std::string::npos) << table;
    // Fast enough, but a byte missing misses the target.
    const std::string throughput = RowOf(table, "throughput, 100-byte writes, 9 outputs");
    EXPECT_NE(throughput.find("64 bytes missing"), std::string::npos) << table;
    EXPECT_NE(throughput.find("every byte: missed"), std::string::npos) << table;
    EXPECT_NE(RowOf(table, "CPU seconds per MB of input, 1 output").find("(0.010 s): met"), std::string::npos)
        << table;
    EXPECT_NE(RowOf(table, "SIGTERM → exit (waitpid), 9 outputs").find("links removed: met"), std::string::npos)
        << table;
}

TEST(Report, FailedRunsAreListedAndLeaveTheirCellsEmpty)
{
    ComparedRuns one{1, {}, {}};
    one.socat.runs = {MadeRun({0.1}, 1, 1, 0)};
    one.tavrel.failures = {"no byte reached output(s) 0"};
    const std::string table = SideBySideTable({one});
    EXPECT_NE(RowOf(table, "latency median, 1 output").find("| — |"), std::string::npos) << table;
    EXPECT_NE(RowOf(table, "latency median, 1 output").find("not measured"), std::string::npos) << table;
    EXPECT_EQ(FailureList({one}, {}), "- Tavrel, 1 output: no byte reached output(s) 0\n");
}

TEST(ReportPage, ThePageSaysHowBusyTheMachineWasAndListsWhatFailed)
{
    std::string error;
    const auto options = ParseOptions({"--quick", "--no-realistic"}, error);
    ASSERT_TRUE(options);
    ComparedRuns one{1, {}, {}};
    one.socat.failures = {"cannot start socat"};
    const std::string page = ReportPage(*options, {"3.50", "1.25", 2, "4194304"}, {one}, {}, {});
    EXPECT_NE(page.find("(quick mode)"), std::string::npos);
    EXPECT_NE(page.find("Load average 3.50 before, 1.25 after, on 2 CPUs"), std::string::npos);
    EXPECT_NE(page.find("| figure | Tavrel | socat |"), std::string::npos);
    EXPECT_EQ(page.find("Realistic run"), std::string::npos);
    EXPECT_NE(page.find("- socat, 1 output: cannot start socat"), std::string::npos) << page;
}

}  // namespace
