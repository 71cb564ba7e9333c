// Matching what the outputs read to the numbered bytes sent: the latency of
// a byte is until the last output had it, and a byte lost at one output is
// counted without upsetting the bytes after it.
#include <gtest/gtest.h>

#include "bench/latency_ledger.h"

namespace {

using namespace tavrel::bench;
using namespace std::chrono_literals;

const Clock::time_point kStart{};

std::vector<unsigned char> Values(std::initializer_list<std::size_t> numbers)
{
    std::vector<unsigned char> bytes;
    for (const std::size_t number : numbers) {
        bytes.push_back(LatencyLedger::ValueOf(number));
    }
    return bytes;
}

std::vector<Clock::time_point> SentEveryTenMilliseconds(std::size_t count)
{
    std::vector<Clock::time_point> sentAt;
    for (std::size_t i = 0; i < count; ++i) {
        sentAt.push_back(kStart + i * 10ms);
    }
    return sentAt;
}

TEST(LatencyLedger, AByteTakesUntilTheLastOutputHasIt)
{
    LatencyLedger ledger(2, 3);
    ledger.Read(0, Values({0}), kStart + 1ms);
    ledger.Read(1, Values({0}), kStart + 3ms);
    // Bytes 1 and 2 reach output 0 in one read, output 1 one by one.
    ledger.Read(0, Values({1, 2}), kStart + 25ms);
    ledger.Read(1, Values({1}), kStart + 12ms);
    EXPECT_FALSE(ledger.Complete(3));
    ledger.Read(1, Values({2}), kStart + 21ms);
    EXPECT_TRUE(ledger.Complete(3));

    const LatencyFigures figures = ledger.Figures(SentEveryTenMilliseconds(3), 3);
    EXPECT_EQ(figures.millis, (std::vector<double>{3, 15, 5}));
    EXPECT_EQ(figures.unanswered, 0u);
    EXPECT_EQ(figures.garbled, 0u);
}

TEST(LatencyLedger, ValuesRepeatOnlyAfterTwoHundredAndFiftyFiveBytesAndAreNeverZero)
{
    EXPECT_EQ(LatencyLedger::ValueOf(0), 1);
    EXPECT_EQ(LatencyLedger::ValueOf(254), 255);
    EXPECT_EQ(LatencyLedger::ValueOf(255), 1);
}

TEST(LatencyLedger, ALostByteIsUnansweredAndTheNextIsStillTimed)
{
    LatencyLedger ledger(2, 3);
    ledger.Read(0, Values({0, 1, 2}), kStart + 22ms);
    ledger.Read(1, Values({0, 2}), kStart + 23ms);   // byte 1 never reached output 1
    EXPECT_TRUE(ledger.Complete(3));
    const LatencyFigures figures = ledger.Figures(SentEveryTenMilliseconds(3), 3);
    EXPECT_EQ(figures.millis, (std::vector<double>{23, 3}));
    EXPECT_EQ(figures.unanswered, 1u);
}

TEST(LatencyLedger, AByteThatWasNeverSentIsStrayAndBytesNotYetReadAreUnanswered)
{
    LatencyLedger ledger(1, 2);
    ledger.Read(0, std::vector<unsigned char>{0x00}, kStart + 1ms);   // no numbered byte carries 0
    ledger.Read(0, Values({0}), kStart + 2ms);
    EXPECT_FALSE(ledger.Complete(2));
    const LatencyFigures figures = ledger.Figures(SentEveryTenMilliseconds(2), 2);
    EXPECT_EQ(figures.garbled, 1u);
    EXPECT_EQ(figures.millis, std::vector<double>{2});
    EXPECT_EQ(figures.unanswered, 1u);
}

}  // namespace
