// Timing whole sentences: a sentence counts for a reader only once it has
// every byte of it unchanged, at the moment its last byte came, and only
// sentences that were sent are timed.
#include <gtest/gtest.h>

#include "bench/sentence_ledger.h"

namespace {

using namespace tavrel::bench;
using namespace std::chrono_literals;

const Clock::time_point kStart{};

TEST(SentenceLedger, ASentenceIsTimedWhenItsLastByteCameForEachReader)
{
    SentenceLedger ledger({10, 20, 30}, 2);
    ledger.Reached(0, 5, kStart + 1ms);     // half of the first: not yet
    ledger.Reached(0, 25, kStart + 3ms);    // the first two at once
    ledger.Reached(1, 10, kStart + 2ms);
    ledger.Reached(1, 30, kStart + 40ms);
    const std::vector<Clock::time_point> sentAt = {kStart, kStart + 1ms, kStart + 20ms};
    std::vector<double> millis = ledger.Millis(sentAt, 3);
    std::sort(millis.begin(), millis.end());
    // Reader 0: 3 and 2 ms; reader 1: 2, 39 and 20 ms; reader 0 never had the third.
    EXPECT_EQ(millis, (std::vector<double>{2, 2, 3, 20, 39}));
}

TEST(SentenceLedger, SentencesNotSentAreNotTimed)
{
    SentenceLedger ledger({10, 20}, 1);
    ledger.Reached(0, 20, kStart + 5ms);
    EXPECT_EQ(ledger.Millis({kStart, kStart + 1ms}, 1), (std::vector<double>{5}));
    EXPECT_TRUE(ledger.Millis({}, 2).empty());
}

}  // namespace
