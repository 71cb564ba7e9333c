// The relay on real parts: a pseudo-terminal as the input, mapped as a
// built-in port, and the virtual port driver module loaded from the device's
// file system, read by consumers through the links in the port folder.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "relay/relay_run.h"
#include "state/app_settings.h"
#include "state/port_lists.h"
#include "support/test_device.h"
#include "testkit/pty_pair.h"

namespace {

using namespace tavrel::testing;
using Bytes = std::vector<unsigned char>;

class RelayEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_.InstallVirtualPortDriver(QUORVEL_MODULE_PATH);
        for (int n : {2, 3, 4, 5}) {
            device_.WriteVirtualPortKey(n);
        }
        device_.MapBuiltInPort(u"Gps", 1, gps_.slavePath());
        device_.Reboot();
        AppSettings = Settings{};
        AppSettings.inputPort = 1;
        AppSettings.baudIndex = 6;
    }
    void TearDown() override { SplitOutputs.clear(); }

    int OpenReader(int number)
    {
        const int fd = OpenRaw(device_.PortLink(number).string());
        if (fd >= 0) {
            readers_.push_back(fd);
        }
        return fd;
    }

    ~RelayEndToEndTest() override
    {
        for (int fd : readers_) {
            ::close(fd);
        }
    }

    PtyPair gps_;
    TestDevice device_;
    std::vector<int> readers_;
};

TEST_F(RelayEndToEndTest, EveryByteValueReachesEveryReaderInOrder)
{
    SplitOutputs = {2, 3, 5};
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(run.running());
    const int readers[] = {OpenReader(2), OpenReader(3), OpenReader(5)};
    for (int fd : readers) {
        ASSERT_GE(fd, 0);
    }
    ASSERT_TRUE(WaitUntilRelaying(gps_, {readers[0], readers[1], readers[2]}));
    const Bytes all = AllByteValues();
    gps_.Write(all);
    for (int fd : readers) {
        EXPECT_EQ(ReadFor(fd, all.size()), all);
    }
    ASSERT_TRUE(run.Stop());
    ASSERT_TRUE(run.WaitEnded());
    for (int n : {2, 3, 5}) {
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(device_.PortLink(n))));
    }
}

TEST_F(RelayEndToEndTest, AnUnopenedPortAndAStalledReaderDoNotHoldUpTheOthers)
{
    SplitOutputs = {2, 3, 4, 5};   // nobody opens COM4; COM5's reader does not read until the end
    RelayRun run;
    ASSERT_TRUE(run.Start());
    const int fast[] = {OpenReader(2), OpenReader(3)};
    const int stalled = OpenReader(5);
    ASSERT_GE(stalled, 0);
    for (int fd : fast) {
        ASSERT_GE(fd, 0);
    }
    ASSERT_TRUE(WaitUntilRelaying(gps_, {fast[0], fast[1], stalled}));
    // Several times what a pseudo-terminal holds, so the stalled port overflows;
    // sent at a pace that readers which do read keep up with, as a fast serial
    // line would (a burst at memory speed may overflow any reader).
    Bytes stream(96 * 1024);
    for (std::size_t i = 0; i < stream.size(); ++i) {
        stream[i] = static_cast<unsigned char>((i * 7 + i / 256) & 0xFF);
    }
    std::vector<Bytes> received(2);
    std::vector<std::thread> consumers;
    for (std::size_t i = 0; i < 2; ++i) {
        consumers.emplace_back([&, i] { received[i] = ReadFor(fast[i], stream.size(), std::chrono::seconds(60)); });
    }
    constexpr std::size_t kPiece = 1024;
    for (std::size_t at = 0; at < stream.size(); at += kPiece) {
        gps_.Write(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                         stream.begin() + static_cast<std::ptrdiff_t>(at + kPiece)));
        std::this_thread::sleep_for(std::chrono::milliseconds(8));
    }
    for (auto& consumer : consumers) {
        consumer.join();
    }
    for (const Bytes& got : received) {
        ASSERT_EQ(got.size(), stream.size());
        EXPECT_TRUE(got == stream);
    }
    // The stalled reader finds the newest data: an unbroken tail of the stream.
    const Bytes tail = ReadFor(stalled, stream.size(), std::chrono::seconds(2));
    ASSERT_FALSE(tail.empty());
    EXPECT_LT(tail.size(), stream.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), stream.end() - static_cast<std::ptrdiff_t>(tail.size())));
    ASSERT_TRUE(run.Stop());
}

TEST_F(RelayEndToEndTest, AnInputThatGoesAwayEndsTheRunWithItsMessage)
{
    SplitOutputs = {2};
    RelayRun run;
    ASSERT_TRUE(run.Start());
    gps_.CloseMaster();
    ASSERT_TRUE(run.WaitEnded(std::chrono::seconds(30)));
    EXPECT_EQ(run.ExitCode(), 1u);
    EXPECT_FALSE(run.running());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(device_.PortLink(2))));
}

}  // namespace
