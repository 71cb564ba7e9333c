// Merging inputs: whole lines in each input's order, torn lines, AIS groups, standby.
#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "relay/line_merger.h"

namespace {

const std::string kFirstFragment = "!AIVDM,2,1,3,B,55P5TL01VIaAL@7WKO@mBplU@<PDhh000000001S;AJ::4A80?4i@E53,0*3E\r\n";
const std::string kLastFragment = "!AIVDM,2,2,3,B,1@0000000000000,2*55\r\n";
const std::string kOtherFirstFragment = "!ABVDM,2,1,4,A,55P5TL01VIaAL@7WKO@mBplU@<PDhh000000001S;AJ::4A80?4i@E53,0*31\r\n";
const std::string kOtherLastFragment = "!ABVDM,2,2,4,A,1@0000000000000,2*5A\r\n";
const std::string kFix = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

struct Emitted {
    std::size_t input;
    std::string line;
    bool torn = false;
    bool operator==(const Emitted&) const = default;
};
using Lines = std::vector<Emitted>;

// A merge that keeps what it emits; it stays where it was made, as its sink refers to it.
struct Merge {
    LineMerge state;
    Lines out;
    explicit Merge(std::vector<MergeRule> rules = {{}, {}, {}})
    {
        StartMerge(state, std::move(rules), [this](std::size_t input, std::span<const unsigned char> line, bool torn) {
            out.push_back({input, std::string(line.begin(), line.end()), torn});
        }, 0);
    }
    void Feed(std::size_t input, std::string_view text, std::uint64_t nowMs)
    {
        FeedMerge(state, input, {reinterpret_cast<const unsigned char*>(text.data()), text.size()}, nowMs);
    }
};

TEST(LineMerger, RandomPiecesOfTwoInputsComeOutAsWholeLinesInEachInputsOrder)
{
    std::string everyByteButLineFeed(255, '\0');   // 11 up to 255, then 0 up to 9
    std::iota(everyByteButLineFeed.begin(), everyByteButLineFeed.end(), '\x0b');
    std::array<std::string, 2> sent;
    std::array<std::vector<std::string>, 2> lines;
    for (std::size_t n = 0; n < 600; ++n) {
        lines[n % 2].push_back(n % 100 < 2 ? everyByteButLineFeed + "\n" : "$GPRMC," + std::to_string(n) + "*00\r\n");
        sent[n % 2] += lines[n % 2].back();
    }
    Merge merge;
    std::mt19937 random(20240611);
    std::array<std::size_t, 2> fed{};
    for (std::uint64_t nowMs = 0; fed[0] < sent[0].size() || fed[1] < sent[1].size(); nowMs += random() % 3) {
        const std::size_t input = random() % 2;
        const std::string_view piece = std::string_view(sent[input]).substr(fed[input], random() % 31);
        merge.Feed(input, piece, nowMs);
        fed[input] += piece.size();
    }
    FlushMerge(merge.state, 1000000);
    std::array<std::vector<std::string>, 2> received;
    for (const Emitted& emitted : merge.out) {
        received.at(emitted.input).push_back(emitted.torn ? "torn: " + emitted.line : emitted.line);
    }
    EXPECT_EQ(received, lines);
}

TEST(LineMerger, LineWithoutLineFeedGoesOutTornAfterASecondOrAtItsLongest)
{
    Merge merge;
    merge.Feed(0, "$GPGSV,3,1", 0);
    merge.Feed(0, ",11", 500);
    EXPECT_EQ(NextMergeDeadline(merge.state), kLineTimeoutMs);
    TickMerge(merge.state, kLineTimeoutMs - 1);
    EXPECT_TRUE(merge.out.empty());
    TickMerge(merge.state, kLineTimeoutMs);
    merge.Feed(0, "*70\r\n", 1001);
    merge.Feed(1, std::string(kLongestLine + 10, 'x') + "\n" + std::string(kLongestLine - 1, 'y') + "\n", 1002);
    EXPECT_EQ(merge.out, (Lines{{0, "$GPGSV,3,1,11", true}, {0, "*70\r\n"}, {1, std::string(kLongestLine, 'x'), true},
                                {1, std::string(10, 'x') + "\n"}, {1, std::string(kLongestLine - 1, 'y') + "\n"}}));
    EXPECT_EQ(MergeCounts(merge.state, 1, 1002).torn, 1u);
    EXPECT_EQ(NextMergeDeadline(merge.state), std::nullopt);
}

TEST(LineMerger, OtherInputsWaitForAnAisGroupUntilItsLastFragmentOrASecond)
{
    Merge merge;
    merge.Feed(1, kFirstFragment, 0);
    merge.Feed(0, kFix, 10);
    merge.Feed(1, "$GPTXT,own\r\n" + kLastFragment, 20);
    EXPECT_EQ(merge.out, (Lines{{1, kFirstFragment}, {1, "$GPTXT,own\r\n"}, {1, kLastFragment}, {0, kFix}}));
    merge.out.clear();
    merge.Feed(1, kFirstFragment, 100);
    merge.Feed(0, kFix, 150);
    EXPECT_EQ(NextMergeDeadline(merge.state), 100 + kAisGroupTimeoutMs);
    TickMerge(merge.state, 99 + kAisGroupTimeoutMs);
    EXPECT_EQ(merge.out.size(), 1u);
    TickMerge(merge.state, 100 + kAisGroupTimeoutMs);
    EXPECT_EQ(merge.out, (Lines{{1, kFirstFragment}, {0, kFix}}));
    merge.Feed(1, "!AIVDM,2,1,3,B,55P,0*00\r\n", 2000);   // a wrong checksum: just a line
    merge.Feed(0, kFix, 2010);
    EXPECT_EQ(merge.out.back(), (Emitted{0, kFix}));
}

TEST(LineMerger, GroupThatStartsWhileAnotherIsOpenStaysWholeToo)
{
    Merge merge;
    const Lines arriving{{1, kFirstFragment}, {2, kOtherFirstFragment}, {0, "$D\n"}, {2, kOtherLastFragment},
                         {0, "$E\n"}, {1, kLastFragment}};
    for (const Emitted& line : arriving) {
        merge.Feed(line.input, line.line, 10);
    }
    EXPECT_EQ(merge.out, (Lines{{1, kFirstFragment}, {1, kLastFragment}, {2, kOtherFirstFragment},
                                {2, kOtherLastFragment}, {0, "$D\n"}, {0, "$E\n"}}));
}

TEST(LineMerger, WaitingBeyondTheMostEndsTheGroupAndALostInputEndsItsOwnWithATornLine)
{
    Merge merge;
    merge.Feed(1, kFirstFragment, 0);
    std::size_t fixes = 0;
    for (; fixes * kFix.size() <= kMostWaitingBytes; ++fixes) {
        merge.Feed(0, kFix, 10);
    }
    EXPECT_EQ(merge.out.size(), 1 + fixes);
    merge.out.clear();
    merge.Feed(1, kFirstFragment + "$GPGLL,49", 100);
    merge.Feed(0, kFix, 110);
    FlushMergeInput(merge.state, 1, 120);
    EXPECT_EQ(merge.out, (Lines{{1, kFirstFragment}, {1, "$GPGLL,49", true}, {0, kFix}}));
}

TEST(LineMerger, StandbyInputTakesOverAfterTheSilenceAndGivesBackWhenTheOtherSends)
{
    Merge merge({{}, {.standbyFor = std::size_t{0}, .standbyAfterMs = 3000}});
    merge.Feed(1, kFix, 100);
    merge.Feed(0, kFix, 500);
    merge.Feed(1, kFix, 3499);
    EXPECT_TRUE(MergeCounts(merge.state, 1, 3499).standingBy);
    EXPECT_EQ(MergeCounts(merge.state, 1, 3499).stateSinceMs, 0u);
    merge.Feed(1, kFix, 3500);
    merge.Feed(0, "", 4000);
    merge.Feed(1, kFix, 4000);
    EXPECT_FALSE(MergeCounts(merge.state, 1, 4000).standingBy);
    EXPECT_EQ(MergeCounts(merge.state, 1, 4000).stateSinceMs, 3500u);
    merge.Feed(0, kFix, 4100);
    merge.Feed(1, kFix, 4100);
    EXPECT_TRUE(MergeCounts(merge.state, 1, 4100).standingBy);
    EXPECT_EQ(MergeCounts(merge.state, 1, 4100).stateSinceMs, 4100u);
    EXPECT_EQ(MergeCounts(merge.state, 1, 4100).droppedStandingBy, 3u);
    EXPECT_EQ(MergeCounts(merge.state, 1, 4100).bytes, 5 * kFix.size());
    EXPECT_EQ(merge.out, (Lines{{0, kFix}, {1, kFix}, {1, kFix}, {0, kFix}}));
}

}  // namespace
