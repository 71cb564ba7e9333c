// What a consumer program sees of the stream written to a virtual port.
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/inotify.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/comm.h"
#include "quorvel_harness.h"
#include "testkit/proc_stats.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace tavrel::testing {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

class VirtualPortStream : public ::testing::Test {
protected:
    TempFolder folder_;
    QuorvelModule module_;
};

std::vector<unsigned char> Twice(const std::vector<unsigned char>& bytes)
{
    std::vector<unsigned char> both(bytes);
    both.insert(both.end(), bytes.begin(), bytes.end());
    return both;
}

// What `stty sane` leaves: line editing, echo, signals, CR/LF mapping, flow
// control; and how reads wait (VMIN, VTIME).
void SetSaneMode(int fd, cc_t minimum = 1, cc_t time = 0)
{
    termios settings{};
    ASSERT_EQ(::tcgetattr(fd, &settings), 0);
    settings.c_iflag |= BRKINT | ICRNL | IXON;
    settings.c_oflag |= OPOST | ONLCR;
    settings.c_lflag |= ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
    settings.c_cc[VMIN] = minimum;
    settings.c_cc[VTIME] = time;
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &settings), 0);
}

// Watches a pty slave being opened and closed. The driver drops what the last
// consumer left unread by opening the slave for a moment; a test waits for
// that instead of guessing how long the driver's thread takes.
class SlaveWatch {
public:
    explicit SlaveWatch(const std::filesystem::path& slave) : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK))
    {
        // Opens too, not only closes: identical events in a row are merged.
        watch_ = ::inotify_add_watch(fd_, slave.c_str(), IN_OPEN | IN_CLOSE);
    }
    ~SlaveWatch() { ::close(fd_); }
    bool valid() const { return fd_ >= 0 && watch_ >= 0; }

    // True once someone opened the slave after the watch began and closed it again.
    bool WaitForOpenAndClose()
    {
        bool opened = false;
        for (;;) {
            pollfd wait{fd_, POLLIN, 0};
            if (::poll(&wait, 1, 10000) <= 0) {
                return false;
            }
            alignas(inotify_event) char buffer[4096];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (opened && (event->mask & IN_CLOSE) != 0) {
                    return true;
                }
                opened = opened || (event->mask & IN_OPEN) != 0;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    int fd_;
    int watch_ = -1;
};

TEST_F(VirtualPortStream, EveryByteValueArrivesUnchangedInOrderAndNothingIsEchoed)
{
    PortUnderTest port(module_, 5, folder_.path());
    // A program that leaves the terminal settings alone: the driver's raw mode must do.
    Consumer reader(OpenPlain(port.linkPath()));
    ASSERT_TRUE(reader.valid());
    termios settings{};
    ASSERT_EQ(::tcgetattr(reader.fd(), &settings), 0);
    EXPECT_EQ(settings.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(settings.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));

    const auto all = AllByteValues();
    EXPECT_EQ(port.Write(all), 256u);
    EXPECT_EQ(port.Write(all), 256u);
    EXPECT_EQ(ReadFor(reader.fd(), 512), Twice(all));
}

TEST_F(VirtualPortStream, ConsumerTerminalSettingsDoNotBreakLaterWrites)
{
    PortUnderTest port(module_, 1, folder_.path());
    const auto all = AllByteValues();
    {
        Consumer first(OpenPlain(port.linkPath()));
        ASSERT_TRUE(first.valid());
        SetSaneMode(first.fd(), 0, 7);
        EXPECT_EQ(port.Write(all), 256u);
        EXPECT_EQ(ReadFor(first.fd(), 256), all) << "writes after the consumer's own stty sane";
        termios settings{};
        ASSERT_EQ(::tcgetattr(first.fd(), &settings), 0);
        EXPECT_EQ(settings.c_cc[VMIN], 0) << "how the consumer's reads wait stays its choice";
        EXPECT_EQ(settings.c_cc[VTIME], 7);
        SetSaneMode(first.fd());   // and leaves it so for the next program
    }
    Consumer next(OpenPlain(port.linkPath()));
    ASSERT_TRUE(next.valid());
    EXPECT_EQ(port.Write(all), 256u);
    EXPECT_EQ(ReadFor(next.fd(), 256), all) << "writes to the next consumer";
}

// Whether the line is raw again, as the driver keeps it, within 10 s.
bool BecomesRaw(int fd)
{
    for (int look = 0; look < 1000; ++look) {
        termios settings{};
        if (::tcgetattr(fd, &settings) == 0 && (settings.c_lflag & (ICANON | ECHO | ISIG)) == 0 &&
            (settings.c_iflag & ICRNL) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(VirtualPortStream, AConsumersChangeOfSettingsIsUndoneWithoutWaitingForAWrite)
{
    PortUnderTest port(module_, 1, folder_.path());
    Consumer consumer(OpenPlain(port.linkPath()));
    ASSERT_TRUE(consumer.valid());
    SetSaneMode(consumer.fd(), 0, 7);
    EXPECT_TRUE(BecomesRaw(consumer.fd())) << "the driver's watcher never saw the change";
    termios settings{};
    ASSERT_EQ(::tcgetattr(consumer.fd(), &settings), 0);
    EXPECT_EQ(settings.c_cc[VMIN], 0) << "how the consumer's reads wait stays its choice";
    EXPECT_EQ(settings.c_cc[VTIME], 7);

    // Also when a purge of the receive side reads the news off the line first.
    SetSaneMode(consumer.fd());
    const DWORD flags = PURGE_RXCLEAR;
    EXPECT_EQ(port.Control(IOCTL_SERIAL_PURGE, &flags, sizeof flags, nullptr, 0), TRUE);
    EXPECT_TRUE(BecomesRaw(consumer.fd()));
    const auto all = AllByteValues();
    EXPECT_EQ(port.Write(all), 256u);
    EXPECT_EQ(ReadFor(consumer.fd(), 256), all);
}

TEST_F(VirtualPortStream, WhatIsWrittenWhileNobodyHasThePortOpenIsGone)
{
    PortUnderTest port(module_, 2, folder_.path());
    const auto fresh = AllByteValues();
    // Before anyone ever opened the port: a little, which the pty would hold.
    EXPECT_TRUE(port.WriteInChunks(CountingStream(3000)));
    {
        Consumer reader(OpenRaw(port.linkPath()));
        ASSERT_TRUE(reader.valid());
        EXPECT_EQ(port.Write(fresh), 256u);
        EXPECT_EQ(ReadFor(reader.fd(), 256), fresh) << "after a small write";
    }
    // Megabytes, in chunks and at once: every write returns at once with its full count.
    const auto lots = CountingStream(2 * kMiB);
    EXPECT_TRUE(port.WriteInChunks(lots));
    EXPECT_EQ(port.Write(lots), lots.size());

    Consumer reader(OpenRaw(port.linkPath()));
    ASSERT_TRUE(reader.valid());
    EXPECT_EQ(port.Write(fresh), 256u);
    EXPECT_EQ(ReadFor(reader.fd(), 256), fresh) << "after megabytes";
}

TEST_F(VirtualPortStream, WhatAConsumerLeftUnreadDoesNotReachTheNext)
{
    PortUnderTest port(module_, 3, folder_.path());
    const auto fresh = AllByteValues();
    {
        Consumer leaving(OpenRaw(port.linkPath()));
        ASSERT_TRUE(leaving.valid());
        EXPECT_TRUE(port.WriteInChunks(CountingStream(3000)));
    }
    EXPECT_TRUE(port.WriteInChunks(CountingStream(3000, 5000)));   // nobody listens: gone

    Consumer next(OpenRaw(port.linkPath()));
    ASSERT_TRUE(next.valid());
    EXPECT_EQ(port.Write(fresh), 256u);
    EXPECT_EQ(ReadFor(next.fd(), 256), fresh);
}

TEST_F(VirtualPortStream, WhatAConsumerLeftUnreadIsDroppedEvenWithoutAnotherWrite)
{
    PortUnderTest port(module_, 4, folder_.path());
    Consumer leaving(OpenRaw(port.linkPath()));
    ASSERT_TRUE(leaving.valid());
    EXPECT_TRUE(port.WriteInChunks(CountingStream(3000)));

    SlaveWatch slave(std::filesystem::read_symlink(port.linkPath()));
    ASSERT_TRUE(slave.valid());
    leaving.Close();
    ASSERT_TRUE(slave.WaitForOpenAndClose()) << "the driver never dropped the unread data";

    Consumer next(OpenRaw(port.linkPath()));
    ASSERT_TRUE(next.valid());
    const auto fresh = AllByteValues();
    EXPECT_EQ(port.Write(fresh), 256u);
    EXPECT_EQ(ReadFor(next.fd(), 256), fresh);
}

TEST_F(VirtualPortStream, ReaderThatFallsBehindGetsTheNewestDataWhenItReads)
{
    PortUnderTest port(module_, 6, folder_.path());
    Consumer reader(OpenRaw(port.linkPath()));
    ASSERT_TRUE(reader.valid());
    // Megabytes first, then amounts around and beyond what the pty holds, so
    // that some rounds end just after the pty overflowed.
    std::vector<std::size_t> sizes{kMiB};
    for (std::size_t size = 16 * 1024; size <= 96 * 1024; size += 2000) {
        sizes.push_back(size);
    }
    std::uint32_t first = 0;
    for (const std::size_t size : sizes) {
        const auto stream = CountingStream(size, first);
        first += static_cast<std::uint32_t>(size / 4 + 1);
        EXPECT_TRUE(port.WriteInChunks(stream)) << "every write returns its full count";

        const auto lastChunk = std::span(stream).last(100);
        const auto got = ReadUntilEndsWith(reader.fd(), lastChunk);
        ASSERT_TRUE(EndsWith(got, lastChunk)) << size << ": the newest chunk did not arrive, " << got.size();
        EXPECT_TRUE(EndsWith(stream, got)) << size << ": what arrives is one stretch of the newest data";
        EXPECT_GE(got.size(), std::min<std::size_t>(size, 4096)) << size << ": the newest KiBs survive, not one chunk";
    }
}

TEST_F(VirtualPortStream, ReaderThatFallsBehindForAMomentLosesNothing)
{
    PortUnderTest port(module_, 7, folder_.path());
    Consumer reader(OpenRaw(port.linkPath()));
    ASSERT_TRUE(reader.valid());
    // Three times what the pty holds, written while the reader does not read:
    // the driver keeps what does not fit and hands it on as the reader catches up.
    const auto stream = CountingStream(60 * 1024, 0);
    EXPECT_TRUE(port.WriteInChunks(stream));
    const auto got = ReadFor(reader.fd(), stream.size());
    ASSERT_EQ(got.size(), stream.size());
    EXPECT_TRUE(got == stream);
}

TEST_F(VirtualPortStream, ConsumerWritingToItsEndNeverBlocks)
{
    PortUnderTest port(module_, 7, folder_.path());
    Consumer consumer(OpenRaw(port.linkPath()));
    ASSERT_TRUE(consumer.valid());
    const std::vector<unsigned char> commands(kMiB, '$');
    std::size_t sent = 0;
    while (sent < commands.size()) {
        pollfd wait{consumer.fd(), POLLOUT, 0};
        ASSERT_GT(::poll(&wait, 1, 10000), 0) << "the consumer's writes blocked after " << sent << " bytes";
        const std::size_t piece = std::min<std::size_t>(4096, commands.size() - sent);
        const ssize_t n = ::write(consumer.fd(), commands.data() + sent, piece);
        ASSERT_TRUE(n > 0 || errno == EAGAIN);
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    const auto all = AllByteValues();
    EXPECT_EQ(port.Write(all), 256u);
    EXPECT_EQ(ReadFor(consumer.fd(), 256), all) << "the port still relays, and the consumer's bytes do not come back";
}

TEST_F(VirtualPortStream, ConsumersComeAndGoWhileTheRelayWrites)
{
    PortUnderTest port(module_, 8, folder_.path());
    std::atomic<bool> stop{false};
    std::atomic<int> shortWrites{0};
    std::thread relay([&] {
        const auto chunk = CountingStream(100);
        while (!stop) {
            shortWrites += port.Write(chunk) == chunk.size() ? 0 : 1;
        }
    });
    for (int round = 0; round < 20; ++round) {
        Consumer consumer(OpenRaw(port.linkPath()));
        if (!consumer.valid()) {
            ADD_FAILURE() << "cannot open the port in round " << round;
            break;
        }
        EXPECT_EQ(ReadFor(consumer.fd(), 1000).size(), 1000u) << "round " << round;
    }
    stop = true;
    relay.join();
    EXPECT_EQ(shortWrites, 0);
}

// What gpsd and gpsbabel leave on a port when they close it, and more: reads
// that return at once (VMIN 0), 7 data bits, odd parity, two stop bits, echo,
// 4800 baud.
void LeaveOddSettings(int fd)
{
    termios settings{};
    ASSERT_EQ(::tcgetattr(fd, &settings), 0);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    settings.c_cflag = (settings.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB | PARODD | CSTOPB;
    settings.c_lflag |= ECHO;
    ASSERT_EQ(::cfsetspeed(&settings, B4800), 0);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &settings), 0);
}

bool IsFresh(const termios& settings)
{
    return settings.c_cc[VMIN] == 1 && settings.c_cc[VTIME] == 0;
}

// Opens the port for blocking reads, as `cat` does, once the driver has seen
// the last program's close: a program that comes before that still finds
// what the last one left, and each such try closes the port again for the
// driver to see. -1 when the port never becomes fresh.
int OpenOnceFresh(const std::filesystem::path& link)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        if (fd >= 0 && ::tcgetattr(fd, &settings) == 0 && IsFresh(settings)) {
            return fd;
        }
        if (fd >= 0) {
            ::close(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// One blocking read on a thread of its own; the test knows when it sleeps in it.
class BlockingRead {
public:
    explicit BlockingRead(int fd)
        : thread_([this, fd] {
              thread_id_ = static_cast<pid_t>(::syscall(SYS_gettid));
              unsigned char buffer[4096];
              const ssize_t n = ::read(fd, buffer, sizeof buffer);
              if (n > 0) {
                  got_.assign(buffer, buffer + n);
              }
              result_ = n;
          })
    {
    }
    ~BlockingRead()
    {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    BlockingRead(const BlockingRead&) = delete;
    BlockingRead& operator=(const BlockingRead&) = delete;

    // True once the read sleeps, waiting for data; false after 10 s of never
    // finding it there (a read that returned at once never is).
    bool WaitUntilWaiting() const { return WaitUntilSleepsIn(thread_id_, {SYS_read}); }
    // The read's result and what it read, once it returned.
    ssize_t Result()
    {
        thread_.join();
        return result_;
    }
    const std::vector<unsigned char>& got() const { return got_; }

private:
    std::atomic<pid_t> thread_id_{0};
    std::atomic<ssize_t> result_{-1};
    std::vector<unsigned char> got_;
    std::thread thread_;
};

TEST_F(VirtualPortStream, TheNextProgramFindsAFreshPortWhateverTheLastOneLeft)
{
    PortUnderTest port(module_, 2, folder_.path());
    termios fresh{};
    {
        Consumer first(OpenPlain(port.linkPath()));
        ASSERT_TRUE(first.valid());
        ASSERT_EQ(::tcgetattr(first.fd(), &fresh), 0);
        ASSERT_TRUE(IsFresh(fresh));
        LeaveOddSettings(first.fd());
    }

    Consumer next(OpenOnceFresh(port.linkPath()));
    ASSERT_TRUE(next.valid()) << "the port kept the last program's settings";
    termios settings{};
    ASSERT_EQ(::tcgetattr(next.fd(), &settings), 0);
    EXPECT_EQ(settings.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8)) << "8N1";
    EXPECT_EQ(settings.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_NE(settings.c_lflag & EXTPROC, 0u);
    EXPECT_EQ(::cfgetospeed(&settings), ::cfgetospeed(&fresh));

    BlockingRead read(next.fd());
    ASSERT_TRUE(read.WaitUntilWaiting()) << "the read did not wait for data";
    const auto all = AllByteValues();
    EXPECT_EQ(port.Write(all), 256u);
    ASSERT_GT(read.Result(), 0);
    std::vector<unsigned char> got = read.got();
    ::fcntl(next.fd(), F_SETFL, O_NONBLOCK);
    const auto rest = ReadFor(next.fd(), all.size() - got.size());
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, all);
}

}  // namespace
}  // namespace tavrel::testing
