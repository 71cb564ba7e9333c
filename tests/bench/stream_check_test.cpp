// Every byte accounted for: what arrived, what is missing, and where the
// received stream first departs from what was sent.
#include <gtest/gtest.h>

#include "bench/stream_check.h"
#include "bench/test_streams.h"

namespace {

using tavrel::bench::PositionPattern;
using tavrel::bench::StreamCheck;
using Bytes = std::vector<unsigned char>;

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

TEST(StreamCheck, EverySentByteInOrderIsComplete)
{
    const Bytes sent = PositionPattern(1000);
    StreamCheck check(sent);
    check.Received(Slice(sent, 0, 333));
    check.Received(Slice(sent, 333, 1000));
    EXPECT_TRUE(check.Complete(1000));
    EXPECT_EQ(check.MissingOf(1000), 0u);
    EXPECT_FALSE(check.firstDifference());
}

TEST(StreamCheck, ATailNotYetArrivedIsMissingButNothingIsWrong)
{
    const Bytes sent = PositionPattern(1000);
    StreamCheck check(sent);
    check.Received(Slice(sent, 0, 900));
    EXPECT_EQ(check.MissingOf(1000), 100u);
    EXPECT_FALSE(check.firstDifference());
    EXPECT_FALSE(check.Complete(1000));
    EXPECT_TRUE(check.Complete(900));
}

TEST(StreamCheck, ADroppedChunkIsCountedAndFoundWhereItWas)
{
    const Bytes sent = PositionPattern(1000);
    StreamCheck check(sent);
    check.Received(Slice(sent, 0, 400));
    check.Received(Slice(sent, 500, 1000));   // the chunk 400..499 never came
    EXPECT_EQ(check.received(), 900u);
    EXPECT_EQ(check.MissingOf(1000), 100u);
    EXPECT_EQ(check.firstDifference(), 400u);
}

TEST(StreamCheck, AChangedOrRepeatedByteIsWrongEvenWhenTheCountIsRight)
{
    const Bytes sent = PositionPattern(300);
    Bytes garbled = sent;
    garbled[123] = static_cast<unsigned char>(garbled[123] ^ 0x40);
    StreamCheck changed(sent);
    changed.Received(garbled);
    EXPECT_EQ(changed.MissingOf(300), 0u);
    EXPECT_EQ(changed.firstDifference(), 123u);

    StreamCheck repeated(sent);
    repeated.Received(Slice(sent, 0, 200));
    repeated.Received(Slice(sent, 100, 200));   // a chunk twice, and the last 100 lost
    EXPECT_EQ(repeated.MissingOf(300), 0u);
    EXPECT_EQ(repeated.firstDifference(), 200u);
    EXPECT_FALSE(repeated.Complete(300));
}

TEST(StreamCheck, BytesBeyondWhatWasSentAreWrong)
{
    const Bytes sent = PositionPattern(10);
    StreamCheck check(sent);
    check.Received(sent);
    check.Received(Bytes{1});
    EXPECT_EQ(check.firstDifference(), 10u);
    EXPECT_FALSE(check.Complete(10));
}

}  // namespace
