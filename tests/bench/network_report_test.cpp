// The network section of the report: Tavrel's latency goals judged against
// ser2net's figures of the same invocation, socat shown only where it can
// serve, and the realistic run's verdict taken from Tavrel's readers.
#include <gtest/gtest.h>

#include "bench/network_report.h"
#include "bench/report_page.h"

namespace {

using namespace tavrel::bench;

RelayRuns LatencyRuns(std::vector<double> millis)
{
    RunFigures run;
    run.latency.millis = std::move(millis);
    return {{run}, {}};
}

std::string RowOf(const std::string& table, const std::string& start)
{
    const std::size_t at = table.find("| " + start);
    return at == std::string::npos ? "" : table.substr(at, table.find('\n', at) - at);
}

NetworkRealisticFigures Realistic(std::vector<std::size_t> lost, bool cutOff, std::optional<double> after)
{
    NetworkRealisticFigures f;
    f.scheduled = 1000;
    f.accepted = 900;
    f.readerLost = std::move(lost);
    f.sentenceMillis = {1, 2, 3};
    f.stalledCutOff = cutOff;
    f.cutOffAfter = after;
    f.stalledHeld = 4096;
    return f;
}

TEST(NetworkReport, TavrelsLatencyIsJudgedAgainstSer2netsWithTheSameClients)
{
    NetworkCompared one{1, LatencyRuns({0.2, 0.3}), LatencyRuns({1.2, 1.3}), LatencyRuns({0.1})};
    NetworkCompared eight{8, LatencyRuns({2.0}), LatencyRuns({1.5}), {}};
    const std::string table = NetworkLatencyTable({one, eight});

    const std::string median1 = RowOf(table, "latency median, 1 client");
    EXPECT_NE(median1.find("| 0.200 ms | 1.20 ms | 0.100 ms | ≤ ser2net's (1.20 ms): met |"), std::string::npos)
        << table;
    EXPECT_NE(RowOf(table, "latency p99, 8 clients").find("≤ ser2net's (1.50 ms): missed"), std::string::npos)
        << table;
    // socat serves one client: its cell with eight says so rather than "—".
    EXPECT_NE(RowOf(table, "latency median, 8 clients").find("| one client only |"), std::string::npos) << table;
    EXPECT_EQ(RowOf(table, "latency max, 1 client").find("ser2net's"), std::string::npos) << table;
}

TEST(NetworkReport, AFailedRelayLeavesItsGoalNotMeasuredAndIsListed)
{
    NetworkCompared one{1, {}, LatencyRuns({1.0}), {}};
    one.tavrel.failures = {"no byte reached output(s) 0"};
    const std::string table = NetworkLatencyTable({one});
    EXPECT_NE(RowOf(table, "latency median, 1 client").find("not measured"), std::string::npos) << table;
    EXPECT_EQ(NetworkFailureList({{one}, {{"ser2net", std::nullopt, "cannot start ser2net"}}}),
              "- Tavrel, 1 client: no byte reached output(s) 0\n"
              "- ser2net, realistic run over TCP: cannot start ser2net\n");
}

TEST(NetworkReport, TheRealisticRunShowsEachReadersLossAndWhatBecameOfTheStalledClient)
{
    const std::vector<NetworkRealisticResult> results = {
        {"Tavrel", Realistic({0, 0, 0}, true, 41.3), ""},
        {"ser2net", Realistic({120, 0, 7}, false, std::nullopt), ""},
    };
    const std::string table = NetworkRealisticTable(results);
    EXPECT_NE(RowOf(table, "Tavrel").find("| 0 / 0 / 0 bytes | 2.00 / 3.00 / 3.00 ms | cut off 41.3 s into the run; "
                                          "held 4096 bytes |"),
              std::string::npos)
        << table;
    EXPECT_NE(RowOf(table, "ser2net").find("| 120 / 0 / 7 bytes |"), std::string::npos) << table;
    EXPECT_NE(RowOf(table, "ser2net").find("kept open"), std::string::npos) << table;
    EXPECT_NE(RowOf(table, "socat").find("one client only"), std::string::npos) << table;
}

TEST(NetworkReport, TheStalledClientGoalLooksAtTavrelsReadersOnly)
{
    EXPECT_EQ(ReadersLostNothing({{"ser2net", Realistic({5, 5, 5}, false, std::nullopt), ""},
                                  {"Tavrel", Realistic({0, 0, 0}, false, std::nullopt), ""}}),
              true);
    EXPECT_EQ(ReadersLostNothing({{"Tavrel", Realistic({0, 1, 0}, false, std::nullopt), ""}}), false);
    EXPECT_EQ(ReadersLostNothing({{"Tavrel", std::nullopt, "failed"}}), std::nullopt);
}

TEST(ReportPage, NetworkOnlyLeavesTheSerialSectionOut)
{
    std::string error;
    const auto options = ParseOptions({"--quick", "--network-only"}, error);
    ASSERT_TRUE(options) << error;
    const std::string page = ReportPage(*options, {"1.00", "1.00", 2, "4194304"}, {}, {}, {});
    EXPECT_EQ(page.find("Tavrel and socat side by side"), std::string::npos) << page;
    EXPECT_NE(page.find("Over TCP: Tavrel, ser2net and socat"), std::string::npos) << page;
    EXPECT_NE(page.find("the others lose nothing: not measured"), std::string::npos) << page;
    EXPECT_NE(page.find("up to 4194304 bytes here"), std::string::npos) << page;
}

}  // namespace
