#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "network/client_queue.h"

namespace {

using tavrel::network::Chunk;
using tavrel::network::ClientQueue;
using namespace std::chrono_literals;
using Bytes = std::vector<unsigned char>;

Chunk MakeChunk(std::size_t size, unsigned char fill)
{
    return std::make_shared<const Bytes>(size, fill);
}

// Writes everything that waits, `most` bytes a write, as a socket with a
// small buffer would take it.
Bytes WriteAll(ClientQueue& queue, std::size_t most = 1000)
{
    Bytes written;
    for (auto next = queue.Next(); !next.empty(); next = queue.Next()) {
        const std::size_t count = std::min(most, next.size());
        written.insert(written.end(), next.begin(), next.begin() + static_cast<std::ptrdiff_t>(count));
        queue.Sent(count);
    }
    return written;
}

TEST(ClientQueue, GivesTheChunksInOrderAcrossPartialWritesAndCountsWhatWasSent)
{
    ClientQueue queue(100);
    const auto now = ClientQueue::Clock::now();
    queue.Push(MakeChunk(10, 'a'), now);
    queue.Push(MakeChunk(0, 'x'), now);
    queue.Push(MakeChunk(5, 'b'), now);
    EXPECT_EQ(queue.queuedBytes(), 15U);
    Bytes expected(10, 'a');
    expected.insert(expected.end(), 5, 'b');
    EXPECT_EQ(WriteAll(queue, 3), expected);
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.queuedBytes(), 0U);
    EXPECT_EQ(queue.bytesSent(), 15U);
    EXPECT_EQ(queue.bytesDropped(), 0U);
    EXPECT_FALSE(queue.fullSince());
}

TEST(ClientQueue, DropsTheOldestWholeChunksWhenANewOneDoesNotFit)
{
    ClientQueue queue(30);
    const auto start = ClientQueue::Clock::now();
    queue.Push(MakeChunk(10, 'a'), start);
    queue.Push(MakeChunk(10, 'b'), start);
    queue.Push(MakeChunk(10, 'c'), start);
    EXPECT_FALSE(queue.fullSince());
    queue.Push(MakeChunk(15, 'd'), start + 1s);   // 'a' and 'b' go
    EXPECT_EQ(queue.bytesDropped(), 20U);
    EXPECT_EQ(queue.fullSince(), start + 1s);
    queue.Push(MakeChunk(5, 'e'), start + 2s);   // fits
    queue.Push(MakeChunk(5, 'f'), start + 3s);   // 'c' goes; full since the first drop
    EXPECT_EQ(queue.bytesDropped(), 30U);
    EXPECT_EQ(queue.fullSince(), start + 1s);

    Bytes expected(15, 'd');
    expected.insert(expected.end(), 5, 'e');
    expected.insert(expected.end(), 5, 'f');
    EXPECT_EQ(WriteAll(queue), expected);
    // Written empty, the client has caught up.
    EXPECT_FALSE(queue.fullSince());
}

TEST(ClientQueue, FinishesTheChunkBeingWrittenAndDropsAChunkLargerThanTheBound)
{
    ClientQueue queue(20);
    const auto now = ClientQueue::Clock::now();
    queue.Push(MakeChunk(12, 'a'), now);
    queue.Push(MakeChunk(8, 'b'), now);
    auto next = queue.Next();
    ASSERT_EQ(next.size(), 12U);
    queue.Sent(4);   // 'a' is half written: it must not be cut short
    queue.Push(MakeChunk(10, 'c'), now);   // 'b' goes; 8 of 'a' + 10 fit
    EXPECT_EQ(queue.bytesDropped(), 8U);
    queue.Push(MakeChunk(21, 'd'), now);   // never fits
    EXPECT_EQ(queue.bytesDropped(), 29U);
    queue.Push(MakeChunk(13, 'e'), now);   // only 'a''s rest is older, and it stays: 'e' goes
    EXPECT_EQ(queue.bytesDropped(), 42U);

    Bytes expected(8, 'a');
    expected.insert(expected.end(), 10, 'c');
    EXPECT_EQ(WriteAll(queue), expected);
    EXPECT_EQ(queue.bytesSent(), 22U);
}

}  // namespace
