// What a virtual port tells of its line: whether a program has it open, and
// what programs that read too slowly lost.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/streamdriver.h"
#include "quorvel_harness.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace tavrel::testing {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

class VirtualPortHealth : public ::testing::Test {
protected:
    TempFolder folder_;
    QuorvelModule module_;
    PortUnderTest port_{module_, 4, folder_.path()};

    SERIAL_LINE_HEALTH Health(DRIVER_CONTEXT open = 0)
    {
        SERIAL_LINE_HEALTH health{};
        DWORD actual = 0;
        const BOOL done = port_.entries().IOControl(open != 0 ? open : port_.open(), IOCTL_SERIAL_GET_LINE_HEALTH,
                                                    nullptr, 0, reinterpret_cast<BYTE*>(&health), sizeof health,
                                                    &actual);
        EXPECT_EQ(done, TRUE);
        EXPECT_EQ(actual, sizeof health);
        return health;
    }

    // ClearCommError's count of what waits in the driver for the reader.
    DWORD OutQueue()
    {
        SERIAL_DEV_STATUS status{};
        DWORD actual = 0;
        EXPECT_EQ(port_.entries().IOControl(port_.open(), IOCTL_SERIAL_GET_COMMSTATUS, nullptr, 0,
                                            reinterpret_cast<BYTE*>(&status), sizeof status, &actual),
                  TRUE);
        EXPECT_EQ(actual, sizeof status);
        EXPECT_EQ(status.Errors, 0u);
        return status.ComStat.cbOutQue;
    }

    // The driver's own thread opens the slave for a moment after a consumer
    // closed it, so "nobody has it open" is waited for.
    bool BecomesUnopened()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Health().programHasItOpen != FALSE) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
};

TEST_F(VirtualPortHealth, TellsWhetherAProgramHasThePortOpen)
{
    EXPECT_EQ(Health().programHasItOpen, FALSE) << "activated and opened by the relay only";
    {
        Consumer reader(OpenRaw(port_.linkPath()));
        ASSERT_TRUE(reader.valid());
        EXPECT_EQ(Health().programHasItOpen, TRUE);
        const DRIVER_CONTEXT query = port_.Open(0);
        ASSERT_NE(query, 0u);
        EXPECT_EQ(Health(query).programHasItOpen, TRUE) << "a query-only open sees the same line";
        EXPECT_EQ(port_.Close(query), TRUE);
    }
    EXPECT_TRUE(BecomesUnopened());
}

TEST_F(VirtualPortHealth, BytesSentWhileNobodyListensOrReadInTimeAreNotDropped)
{
    EXPECT_TRUE(port_.WriteInChunks(CountingStream(2 * kMiB)));
    EXPECT_EQ(Health().bytesDropped, 0u) << "nobody had the port open: nobody lost anything";

    Consumer reader(OpenRaw(port_.linkPath()));
    ASSERT_TRUE(reader.valid());
    // Three times what the pty holds: the driver keeps what does not fit.
    const auto stream = CountingStream(60 * 1024);
    EXPECT_TRUE(port_.WriteInChunks(stream));
    EXPECT_EQ(ReadFor(reader.fd(), stream.size()).size(), stream.size());
    EXPECT_EQ(Health().bytesDropped, 0u);
}

// What does not fit into the pty is counted as waiting until the reader has
// taken it; what nobody listens to never waits.
TEST_F(VirtualPortHealth, TellsHowMuchWaitsForTheReader)
{
    EXPECT_TRUE(port_.WriteInChunks(CountingStream(200 * 1024)));
    EXPECT_EQ(OutQueue(), 0u) << "nobody has the port open";

    Consumer reader(OpenRaw(port_.linkPath()));
    ASSERT_TRUE(reader.valid());
    const auto stream = CountingStream(60 * 1024);
    EXPECT_TRUE(port_.WriteInChunks(stream));
    const DWORD waiting = OutQueue();
    EXPECT_GT(waiting, 0u);
    EXPECT_LT(waiting, stream.size()) << "the pty holds the first part";
    EXPECT_EQ(ReadFor(reader.fd(), stream.size()), stream);
    EXPECT_EQ(OutQueue(), 0u);
}

TEST_F(VirtualPortHealth, BytesLostByASlowReaderAreCounted)
{
    Consumer reader(OpenRaw(port_.linkPath()));
    ASSERT_TRUE(reader.valid());
    const auto stream = CountingStream(kMiB);
    EXPECT_TRUE(port_.WriteInChunks(stream));
    const auto lastChunk = std::span(stream).last(100);
    const auto got = ReadUntilEndsWith(reader.fd(), lastChunk);
    ASSERT_TRUE(EndsWith(got, lastChunk));

    // Everything the reader missed was dropped for newer bytes, and counted:
    // in the driver's own queue and in the pty, on its way to the reader too.
    const ULONGLONG dropped = Health().bytesDropped;
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(dropped, stream.size() - got.size());

    const auto more = AllByteValues();
    EXPECT_EQ(port_.Write(more), more.size());
    EXPECT_EQ(ReadFor(reader.fd(), more.size()), more);
    EXPECT_EQ(Health().bytesDropped, dropped) << "a reader that keeps up again loses nothing more";
}

TEST_F(VirtualPortHealth, ABufferTooSmallIsRefused)
{
    BYTE small[sizeof(SERIAL_LINE_HEALTH) - 1] = {};
    DWORD actual = 7;
    EXPECT_EQ(port_.entries().IOControl(port_.open(), IOCTL_SERIAL_GET_LINE_HEALTH, nullptr, 0, small, sizeof small,
                                        &actual),
              FALSE);
    EXPECT_EQ(actual, 0u);
}

}  // namespace
}  // namespace tavrel::testing
