// Talking back to an input: whole lines in each talker's order, one raw talker at a time, the line rate
// shared fairly, lines that time out or run too long dropped.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "relay/talk_arbiter.h"

namespace {

std::span<const unsigned char> Bytes(std::string_view text)
{
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// An arbiter and everything it handed out, as text.
struct Talk {
    TalkArbiter arbiter;
    std::string out;
    explicit Talk(std::uint32_t bytesPerSecond) : arbiter(bytesPerSecond) {}
    void Feed(std::size_t talker, std::string_view text, std::uint64_t nowMs, TalkMode mode = TalkMode::Lines)
    {
        arbiter.Feed(talker, mode, Bytes(text), nowMs);
    }
    void Take(std::uint64_t nowMs)
    {
        std::vector<unsigned char> taken;
        arbiter.Take(nowMs, taken);
        out.append(taken.begin(), taken.end());
    }
    // Takes at each deadline until nothing waits; answers when it ended.
    std::uint64_t Drain(std::uint64_t nowMs)
    {
        for (auto next = arbiter.NextDeadline(); next; next = arbiter.NextDeadline()) {
            nowMs = std::max(nowMs, *next);
            Take(nowMs);
        }
        return nowMs;
    }
    // The lines handed out, by the talker named at their start ("3:...").
    std::map<std::size_t, std::vector<std::string>> LinesByTalker() const
    {
        std::map<std::size_t, std::vector<std::string>> lines;
        for (std::size_t at = 0, end = 0; at < out.size(); at = end + 1) {
            end = std::min(out.find('\n', at), out.size() - 1);
            lines[std::stoul(out.substr(at, out.find(':', at) - at))].push_back(out.substr(at, end + 1 - at));
        }
        return lines;
    }
};

std::string Line(std::size_t talker, std::size_t number, std::size_t bodyBytes)
{
    return std::to_string(talker) + ":" + std::to_string(number) + std::string(bodyBytes, '.') + "\r\n";
}

TEST(TalkArbiter, LinesOfThreeTalkersInRandomPiecesComeOutWholeInEachTalkersOrder)
{
    Talk talk(11520);
    std::map<std::size_t, std::vector<std::string>> sent;
    std::map<std::size_t, std::string> unsent;
    std::mt19937 random(20240612);
    for (std::size_t number = 0; number < 600; ++number) {
        sent[number % 3].push_back(Line(number % 3, number, random() % 300));
        unsent[number % 3] += sent[number % 3].back();
    }
    std::uint64_t nowMs = 0;
    while (!unsent[0].empty() || !unsent[1].empty() || !unsent[2].empty()) {
        const std::size_t talker = random() % 3;
        const std::size_t piece = std::min<std::size_t>(random() % 40, unsent[talker].size());
        talk.Feed(talker, std::string_view(unsent[talker]).substr(0, piece), nowMs);
        unsent[talker].erase(0, piece);
        talk.Take(nowMs += random() % 5);
    }
    talk.Drain(nowMs);
    EXPECT_EQ(talk.LinesByTalker(), sent);
    EXPECT_EQ(talk.arbiter.Counts(1).lines, 200u);
}

TEST(TalkArbiter, OneRawTalkerHoldsTheInputWhileLinesWaitForIt)
{
    Talk talk(960);
    const std::string command("\xb5\x62\x06\x08\x06\x00\xc8\x00", 8);
    talk.Feed(1, command, 0, TalkMode::Raw);
    talk.Take(0);
    talk.Feed(2, "\xb5\x62", 10, TalkMode::Raw);
    talk.Feed(0, "0:$PMTK220,1000*1F\r\n", 20);
    talk.Take(999);
    EXPECT_EQ(talk.out, command);
    EXPECT_EQ(talk.arbiter.NextDeadline(), kRawHoldMs);
    talk.Take(kRawHoldMs);
    talk.Feed(2, "\xb5\x62", kRawHoldMs + 1, TalkMode::Raw);
    talk.Feed(0, "0:$PMTK", kRawHoldMs + 2);
    talk.Take(kRawHoldMs + 2);
    EXPECT_EQ(talk.out, command + "0:$PMTK220,1000*1F\r\n\xb5\x62");
    EXPECT_EQ(talk.arbiter.Counts(2).rawRefused, 2u);
    EXPECT_EQ(talk.arbiter.Counts(2).bytes, 2u);
}

TEST(TalkArbiter, FloodingTalkerIsCutToTheLineRateWhileTheOthersLinesGetThrough)
{
    constexpr std::uint32_t kRate = 480;
    Talk talk(kRate);
    std::map<std::size_t, std::vector<std::string>> sentByOthers;
    for (std::uint64_t nowMs = 0; nowMs < 10000; nowMs += 10) {
        for (std::size_t number = 0; number < 20; ++number) {
            talk.Feed(7, Line(7, number, 70), nowMs);
        }
        for (const std::size_t talker : {std::size_t{1}, std::size_t{2}}) {
            if (nowMs % 500 == talker * 10) {
                sentByOthers[talker].push_back(Line(talker, nowMs, 30));
                talk.Feed(talker, sentByOthers[talker].back(), nowMs);
            }
        }
        talk.Take(nowMs);
        ASSERT_LE(talk.out.size(), kTalkBurstBytes + kRate * nowMs / 1000);
    }
    EXPECT_GE(talk.out.size(), kRate * 9);
    auto received = talk.LinesByTalker();
    EXPECT_GE(received[1].size() + 1, sentByOthers[1].size());   // a flood line at most before each
    talk.Drain(10000);
    received = talk.LinesByTalker();
    EXPECT_EQ(received[1], sentByOthers[1]);
    EXPECT_EQ(received[2], sentByOthers[2]);
    const TalkerCounts flood = talk.arbiter.Counts(7);
    EXPECT_EQ(flood.lines, received[7].size());
    EXPECT_EQ(flood.overflowed, 10000 / 10 * 20 - flood.lines);
    EXPECT_EQ(talk.arbiter.Counts(1).droppedLines, 0u);
}

TEST(TalkArbiter, LinesThatTimeOutOrRunTooLongAreDroppedAndALongestLineStillGoes)
{
    Talk talk(480);
    talk.Feed(0, "0:$GPGSV,3,1", 0);
    EXPECT_EQ(talk.arbiter.NextDeadline(), kTalkLineTimeoutMs);
    talk.Feed(0, std::string(kLongestTalkLine + 5, 'x'), kTalkLineTimeoutMs);
    talk.Feed(0, "x\n0:$OK\r\n", kTalkLineTimeoutMs + 10);
    const std::string longest = "0:" + std::string(kLongestTalkLine - 3, 'y') + "\n";
    talk.Feed(0, longest, kTalkLineTimeoutMs + 20);
    talk.Feed(3, "3:$PMTK,1\r\n3:$PMTK", kTalkLineTimeoutMs + 30);
    talk.arbiter.Leave(3, kTalkLineTimeoutMs + 30);
    const std::uint64_t endMs = talk.Drain(kTalkLineTimeoutMs + 30);
    EXPECT_EQ(talk.out, "0:$OK\r\n3:$PMTK,1\r\n" + longest);
    EXPECT_GE(endMs, kTalkLineTimeoutMs + 20 + 1000 * longest.size() / 480 - 1000 * kTalkBurstBytes / 480);
    const TalkerCounts counts = talk.arbiter.Counts(0);
    EXPECT_EQ(counts.timedOut, 1u);
    EXPECT_EQ(counts.tooLong, 1u);
    EXPECT_EQ(counts.droppedBytes, 12u + kLongestTalkLine + 7);
    EXPECT_EQ(counts.lines, 2u);
    EXPECT_EQ(talk.arbiter.Counts(3), TalkerCounts{});
    EXPECT_EQ(talk.arbiter.DepartedCounts().cut, 1u);
}

}  // namespace
