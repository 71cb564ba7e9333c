// The relay on real parts: a pseudo-terminal as the input, mapped as a
// built-in port, and the virtual port driver module loaded from the device's
// file system, read by consumers through the links in the port folder.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "platform/debug_capture.h"
#include "relay/relay_health.h"
#include "relay/relay_run.h"
#include "state/app_settings.h"
#include "state/port_lists.h"
#include "support/test_device.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;
using Bytes = std::vector<unsigned char>;

class RelayEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override { SetUpWithInput(gps_.slavePath()); }

    // The device with `hostDevice` as its built-in port COM1, the input.
    void SetUpWithInput(const std::string& hostDevice)
    {
        device_.InstallVirtualPortDriver(QUORVEL_MODULE_PATH);
        for (int n : {2, 3, 4, 5}) {
            device_.WriteVirtualPortKey(n);
        }
        device_.MapBuiltInPort(u"Gps", 1, hostDevice);
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

    // Readers on COM2 and COM3 that read, and one on COM5 that does not.
    struct Readers {
        int reading[2] = {-1, -1};
        int stalled = -1;
    };

    // Opens the readers and waits until the relay reaches all three.
    ::testing::AssertionResult OpenReadersBesideAStalledOne(Readers& readers)
    {
        readers = Readers{{OpenReader(2), OpenReader(3)}, OpenReader(5)};
        if (readers.reading[0] < 0 || readers.reading[1] < 0 || readers.stalled < 0) {
            return ::testing::AssertionFailure() << "a port link could not be opened";
        }
        if (!WaitUntilRelaying(gps_, {readers.reading[0], readers.reading[1], readers.stalled})) {
            return ::testing::AssertionFailure() << "the relay did not reach every reader";
        }
        return ::testing::AssertionSuccess();
    }

    // A stream whose bytes do not repeat with the period of any buffer.
    static Bytes Pattern(std::size_t size, std::size_t factor, std::size_t period)
    {
        Bytes stream(size);
        for (std::size_t i = 0; i < size; ++i) {
            stream[i] = static_cast<unsigned char>((i * factor + i / period) & 0xFF);
        }
        return stream;
    }

    // Sends the stream with `send` while each reading reader reads on a thread
    // of its own; each must get all of it, in order.
    static void ExpectEachReaderGetsAll(const Readers& readers, const Bytes& stream, const std::function<void()>& send)
    {
        std::vector<Bytes> received(2);
        std::vector<std::thread> consumers;
        for (std::size_t i = 0; i < 2; ++i) {
            consumers.emplace_back(
                [&, i] { received[i] = ReadFor(readers.reading[i], stream.size(), std::chrono::seconds(120)); });
        }
        send();
        for (auto& consumer : consumers) {
            consumer.join();
        }
        for (const Bytes& got : received) {
            ASSERT_EQ(got.size(), stream.size());
            EXPECT_TRUE(got == stream);
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
    Readers readers;
    ASSERT_TRUE(OpenReadersBesideAStalledOne(readers));
    const int stalled = readers.stalled;
    // Several times what a pseudo-terminal holds, so the stalled port overflows;
    // sent at the pace of a fast serial line.
    const Bytes stream = Pattern(96 * 1024, 7, 256);
    ExpectEachReaderGetsAll(readers, stream, [&] {
        constexpr std::size_t kPiece = 1024;
        for (std::size_t at = 0; at < stream.size(); at += kPiece) {
            gps_.Write(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                             stream.begin() + static_cast<std::ptrdiff_t>(at + kPiece)));
            std::this_thread::sleep_for(std::chrono::milliseconds(8));
        }
    });
    // The stalled reader finds the newest data: an unbroken tail of the stream.
    const Bytes tail = ReadFor(stalled, stream.size(), std::chrono::seconds(2));
    ASSERT_FALSE(tail.empty());
    EXPECT_LT(tail.size(), stream.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), stream.end() - static_cast<std::ptrdiff_t>(tail.size())));
    ASSERT_TRUE(run.Stop());
}

// A burst at memory speed, far more than a port holds: the relay waits for
// the readers that read, so each gets every byte, while one that never reads
// holds it up only once.
TEST_F(RelayEndToEndTest, ReadersThatReadGetEveryByteOfABurstBesideOneThatDoesNot)
{
    SplitOutputs = {2, 3, 5};   // COM5's reader does not read
    RelayRun run;
    ASSERT_TRUE(run.Start());
    Readers readers;
    ASSERT_TRUE(OpenReadersBesideAStalledOne(readers));
    const Bytes stream = Pattern(2 * 1024 * 1024, 13, 251);
    ExpectEachReaderGetsAll(readers, stream, [&] { gps_.Write(stream); });
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

// With Reconnect on, as an unattended machine runs: the input is named by a
// link, as /dev/serial/by-id names a USB receiver, and the receiver goes away
// (its pseudo-terminal's master is closed) and comes back as a new
// pseudo-terminal that the link then leads to, as a replug under another
// ttyUSB number does.
class ReconnectEndToEndTest : public RelayEndToEndTest {
protected:
    void SetUp() override
    {
        PointInputAt(gps_.slavePath());
        SetUpWithInput(link_.string());
        AppSettings.reconnect.store(1);
        SplitOutputs = {2, 3};
    }

    // Replaces the link in one step, as udev does.
    void PointInputAt(const std::string& target) const
    {
        const auto fresh = links_.path() / "gps.new";
        std::filesystem::create_symlink(target, fresh);
        std::filesystem::rename(fresh, link_);
    }

    // Starts relaying to readers of COM2 and COM3, then unplugs the receiver.
    std::vector<int> RelayThenUnplug(RelayRun& run)
    {
        EXPECT_TRUE(run.Start());
        std::vector<int> readers = {OpenReader(2), OpenReader(3)};
        for (int fd : readers) {
            EXPECT_GE(fd, 0);
        }
        EXPECT_TRUE(WaitUntilRelaying(gps_, readers));
        gps_.CloseMaster();
        EXPECT_TRUE(WaitFor([this] { return debug_.Count(kInputLost) == 1; }));
        return readers;
    }

    template <typename Condition>
    static bool WaitFor(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return condition();
    }

    // Opens terminals, as a person opening a terminal window does, until one
    // gets the number of the pseudo-terminal `path` that went away (the
    // kernel hands out the lowest free number), or another program's has it.
    // The terminal that has it, when it is one of these; null otherwise.
    PtyPair* TerminalWithTheNumberOf(const std::string& path)
    {
        WaitFor([&] { return !Exists(path); }, std::chrono::seconds(5));   // the relay has let go of it
        while (!Exists(path) && terminals_.size() < 64) {
            terminals_.push_back(std::make_unique<PtyPair>());
        }
        for (const auto& terminal : terminals_) {
            if (terminal->slavePath() == path) {
                TurnOnLineEditing(*terminal);   // as a shell has its terminal
                return terminal.get();
            }
        }
        return nullptr;
    }

    // The line settings of a terminal reach its far end through its master.
    static void TurnOnLineEditing(const PtyPair& terminal)
    {
        termios line{};
        ::tcgetattr(terminal.master(), &line);
        line.c_lflag |= ICANON | ECHO;
        ::tcsetattr(terminal.master(), TCSANOW, &line);
    }
    static bool LineEditing(const PtyPair& terminal)
    {
        termios line{};
        return ::tcgetattr(terminal.master(), &line) == 0 && (line.c_lflag & ICANON) != 0 && (line.c_lflag & ECHO) != 0;
    }

    // What is typed in `terminal` reaches none of the readers while the relay
    // looks at it twice more, the relay said once why it leaves it alone, and
    // left it alone indeed: it never opened it (which makes a line raw).
    void ExpectNothingOf(PtyPair* terminal, const std::vector<int>& readers, const std::u16string& notTaken)
    {
        ASSERT_TRUE(WaitFor([&] { return debug_.Count(notTaken) == 1; }));
        if (terminal != nullptr) {
            terminal->Write({'e', 'c', 'h', 'o', ' ', 's', 'e', 'c', 'r', 'e', 't', '\n'});
        }
        for (int fd : readers) {
            EXPECT_TRUE(ReadFor(fd, 1, std::chrono::milliseconds(1200)).empty());
        }
        EXPECT_EQ(debug_.Count(notTaken), 1u);
        EXPECT_FALSE(TakeRelayHealth().input.notTakenBecause.empty());
        if (terminal != nullptr) {
            EXPECT_TRUE(LineEditing(*terminal));
        }
    }

    // Relays, unplugs the receiver and gives its number to a terminal, which
    // is then not taken, as `notTaken` says; the readers of COM2 and COM3.
    std::vector<int> UnplugAndGiveTheNumberToATerminal(RelayRun& run, const std::u16string& notTaken)
    {
        const std::string number = gps_.slavePath();
        std::vector<int> readers = RelayThenUnplug(run);
        ExpectNothingOf(TerminalWithTheNumberOf(number), readers, notTaken);
        return readers;
    }

    static bool Exists(const std::string& path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }

    static constexpr const char16_t* kInputLost = u"Input port lost; trying to open it again every second\n";
    std::vector<std::unique_ptr<PtyPair>> terminals_;

    platform::DebugOutputCapture debug_;
    TempFolder links_;
    const std::filesystem::path link_ = links_.path() / "gps";
};

// Whether a reader's port is as a program wants it: no hang-up, no error, and
// a read that finds nothing waits for more instead of reporting the end.
bool StillOpen(int fd)
{
    pollfd port{fd, POLLIN, 0};
    if (::poll(&port, 1, 0) < 0 || (port.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return false;
    }
    unsigned char byte = 0;
    const ssize_t n = ::read(fd, &byte, 1);
    return n > 0 || (n < 0 && errno == EAGAIN);
}

TEST_F(ReconnectEndToEndTest, ReadersKeepTheirPortsWhileTheReceiverIsAwayAndGetItsBytesWhenItIsBack)
{
    RelayRun run;
    const std::vector<int> readers = RelayThenUnplug(run);
    ASSERT_EQ(readers.size(), 2u);
    EXPECT_TRUE(run.running());
    for (int fd : readers) {
        EXPECT_TRUE(StillOpen(fd));
    }

    PtyPair replugged;
    PointInputAt(replugged.slavePath());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::vector<bool> reached(readers.size(), false);
    while (std::count(reached.begin(), reached.end(), false) > 0 && std::chrono::steady_clock::now() < deadline) {
        replugged.Write({'~'});
        for (std::size_t i = 0; i < readers.size(); ++i) {
            reached[i] = reached[i] || !ReadFor(readers[i], 1, std::chrono::milliseconds(20)).empty();
        }
    }
    EXPECT_EQ(std::count(reached.begin(), reached.end(), true), 2) << "not within 2 s of the receiver's return";
    EXPECT_EQ(debug_.Count(u"Input port back; relaying again\n"), 1u);

    // From then on every byte reaches the same descriptors, which never saw the end.
    ASSERT_TRUE(WaitUntilRelaying(replugged, readers));
    const Bytes all = AllByteValues();
    replugged.Write(all);
    for (int fd : readers) {
        EXPECT_EQ(ReadFor(fd, all.size()), all);
        EXPECT_TRUE(StillOpen(fd));
    }
    ASSERT_TRUE(run.Stop());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(device_.PortLink(2))));
}

// The receiver gets its start-up command when the run opens it and again
// when it comes back, so a receiver that forgot its rate is set anew.
TEST_F(ReconnectEndToEndTest, TheStartUpCommandReachesTheReceiverAtEachOpen)
{
    const std::string command = "$PMTK220,200*2C\r\n";
    AppSettings.inputInit = command;
    const Bytes expected(command.begin(), command.end());
    RelayRun run;
    ASSERT_TRUE(run.Start());
    EXPECT_EQ(ReadFor(gps_.master(), expected.size()), expected);
    const std::vector<int> readers = {OpenReader(2)};
    ASSERT_TRUE(WaitUntilRelaying(gps_, readers));
    gps_.CloseMaster();
    ASSERT_TRUE(WaitFor([this] { return debug_.Count(kInputLost) == 1; }));

    PtyPair replugged;
    PointInputAt(replugged.slavePath());
    EXPECT_EQ(ReadFor(replugged.master(), expected.size()), expected);
    ASSERT_TRUE(WaitUntilRelaying(replugged, readers));
    ASSERT_TRUE(run.Stop());
}

// The receiver's program ended and left its link; a terminal opened next
// gets the number the link leads to. It is not taken until the link is made
// anew, to the receiver's new pseudo-terminal.
TEST_F(ReconnectEndToEndTest, ALinkLeftToATerminalThatGotTheReceiversNumberIsNotFollowedUntilMadeAnew)
{
    RelayRun run;
    const std::vector<int> readers = UnplugAndGiveTheNumberToATerminal(
        run, u"Input port not taken: its link was not made anew and leads to the number of the "
             u"pseudo-terminal that went away; waiting for the receiver\n");

    PtyPair replugged;
    PointInputAt(replugged.slavePath());
    ASSERT_TRUE(WaitFor([this] { return debug_.Count(u"Input port back; relaying again\n") == 1; }));
    ASSERT_TRUE(WaitUntilRelaying(replugged, readers));
    ASSERT_TRUE(run.Stop());
}

TEST_F(ReconnectEndToEndTest, AStopWhileTheReceiverIsAwayEndsTheRunAtOnce)
{
    RelayRun run;
    RelayThenUnplug(run);
    // The worker has just begun its wait of a second for the receiver.
    ASSERT_TRUE(run.Stop(std::chrono::milliseconds(500)));
    ASSERT_TRUE(run.WaitEnded());
    EXPECT_EQ(run.ExitCode(), 0u);
    for (int n : {2, 3}) {
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(device_.PortLink(n))));
    }
}

// The input named by its pseudo-terminal's number, as `tavrel-config input
// /dev/pts/0` names it: the receiver's program ends, and a terminal opened
// next gets that number. What is typed there never reaches a port.
class ReconnectByNumberEndToEndTest : public ReconnectEndToEndTest {
protected:
    void SetUp() override
    {
        SetUpWithInput(gps_.slavePath());
        AppSettings.reconnect.store(1);
        SplitOutputs = {2, 3};
    }
};

TEST_F(ReconnectByNumberEndToEndTest, AStrangersTerminalThatGetsTheReceiversNumberIsNeverRelayed)
{
    RelayRun run;
    UnplugAndGiveTheNumberToATerminal(
        run, u"Input port not taken: it is a pseudo-terminal named by its number, which any new terminal "
             u"may get (name it through a link); waiting for the receiver\n");
    EXPECT_TRUE(run.running());
    ASSERT_TRUE(run.Stop());
}

}  // namespace
