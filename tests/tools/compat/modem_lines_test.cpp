// The preloaded library's answers, inside this test program: it is linked
// with the library's sources, so its ioctl() and close() are the library's,
// as they are in a program that tavrel-compat runs. Real pseudo-terminals;
// a "port" is a pty whose slave a link in a listed port folder leads to,
// made as Tavrel makes its own. syscall(SYS_ioctl) asks the kernel itself.
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <linux/tty_flags.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"
#include "tools/compat/line_table.h"
#include "tools/compat/port_folders.h"

namespace {

using tavrel::testing::OpenRaw;
using tavrel::testing::PtyPair;
using tavrel::testing::TempFolder;

constexpr int kFarLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
constexpr int kAllLines = TIOCM_DTR | TIOCM_RTS | kFarLines;

const std::array<unsigned long, 7> kModemRequests{TIOCMGET,   TIOCMSET,    TIOCMBIS,   TIOCMBIC,
                                                  TIOCMIWAIT, TIOCGICOUNT, TIOCGSERIAL};

int Lines(int fd)
{
    int lines = -1;
    EXPECT_EQ(::ioctl(fd, TIOCMGET, &lines), 0) << std::strerror(errno);
    return lines;
}

int Drive(int fd, unsigned long request, int lines)
{
    return ::ioctl(fd, request, &lines);
}

// A port as Tavrel makes one: a pty whose slave "COM2" in a port folder
// leads to; the folder is the one listed for the library.
class PortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_symlink(far_.slavePath(), folder_.path() / "COM2");
        tavrel::compat::LoadPortFolders(folder_.path().c_str());
    }
    void TearDown() override
    {
        for (int fd : open_) {
            ::close(fd);
        }
        tavrel::compat::LoadPortFolders(nullptr);
    }

    int OpenPort()
    {
        const int fd = OpenRaw((folder_.path() / "COM2").string());
        EXPECT_GE(fd, 0);
        open_.push_back(fd);
        return fd;
    }

    TempFolder folder_;
    PtyPair far_;
    std::vector<int> open_;
};

TEST_F(PortTest, APortAnswersAsAConnectedNullModemCableAndKeepsErrno)
{
    const int port = OpenPort();
    errno = EDOM;
    EXPECT_EQ(Lines(port), kAllLines);
    EXPECT_EQ(errno, EDOM);   // a call that succeeds leaves errno alone

    EXPECT_EQ(Drive(port, TIOCMBIC, TIOCM_DTR), 0);
    EXPECT_EQ(Lines(port), TIOCM_RTS | kFarLines);
    EXPECT_EQ(Drive(port, TIOCMSET, TIOCM_DTR | TIOCM_RNG), 0);   // only DTR and RTS are the program's
    EXPECT_EQ(Lines(port), TIOCM_DTR | kFarLines);
    EXPECT_EQ(Drive(port, TIOCMBIS, TIOCM_RTS), 0);
    EXPECT_EQ(Lines(port), kAllLines);
    EXPECT_EQ(errno, EDOM);
}

TEST_F(PortTest, EachOpenStartsWithDtrAndRtsOnAndKeepsItsOwn)
{
    const int first = OpenPort();
    EXPECT_EQ(Drive(first, TIOCMBIC, TIOCM_DTR | TIOCM_RTS), 0);
    const int second = OpenPort();
    EXPECT_EQ(Lines(second), kAllLines);
    EXPECT_EQ(Lines(first), kFarLines);

    // Closed and opened again, most likely under the same number: on again.
    open_.erase(open_.begin());
    ASSERT_EQ(::close(first), 0);
    EXPECT_EQ(Lines(OpenPort()), kAllLines);
}

TEST_F(PortTest, APortThatTavrelRemovedReadsTheFarLinesOff)
{
    const int port = OpenPort();
    EXPECT_EQ(Drive(port, TIOCMBIC, TIOCM_RTS), 0);
    ::unlink((folder_.path() / "COM2").c_str());   // as Tavrel does, before it closes its end
    far_.CloseMaster();
    EXPECT_EQ(Lines(port), TIOCM_DTR);
    EXPECT_EQ(::ioctl(port, TIOCMIWAIT, kFarLines), -1);
    EXPECT_EQ(errno, EIO);   // nothing can change any more
}

TEST_F(PortTest, SerialDetailsDescribeAPlainUartAndCountsAreZero)
{
    const int port = OpenPort();
    serial_struct uart;
    std::memset(&uart, 0xff, sizeof uart);
    ASSERT_EQ(::ioctl(port, TIOCGSERIAL, &uart), 0);
    EXPECT_EQ(uart.type, PORT_16550A);
    EXPECT_EQ(std::to_string(uart.line), std::filesystem::path(far_.slavePath()).filename().string());
    EXPECT_EQ(static_cast<unsigned>(uart.flags) & ASYNC_SPD_MASK, 0u);   // standard speeds: nothing to put back with TIOCSSERIAL
    EXPECT_GT(uart.baud_base, 0);
    EXPECT_EQ(uart.custom_divisor, 0);

    serial_icounter_struct counts;
    std::memset(&counts, 0xff, sizeof counts);
    ASSERT_EQ(::ioctl(port, TIOCGICOUNT, &counts), 0);
    const serial_icounter_struct zero{};
    EXPECT_EQ(std::memcmp(&counts, &zero, sizeof counts), 0);

    for (unsigned long request : kModemRequests) {
        if (request == TIOCMIWAIT) {
            continue;   // its argument is a mask, not an address
        }
        errno = 0;
        EXPECT_EQ(::ioctl(port, request, nullptr), -1) << request;
        EXPECT_EQ(errno, EFAULT) << request;
    }
}

TEST_F(PortTest, MorePortsOpenThanTheTableHoldsAreStillAnswered)
{
    for (int open = 0; open <= tavrel::compat::kMaxOpenPorts; ++open) {
        EXPECT_EQ(Lines(OpenPort()), kAllLines);
    }
    const int beyond = open_.back();
    EXPECT_EQ(Drive(beyond, TIOCMBIC, TIOCM_DTR), 0);   // accepted; the table has no room to keep it
    EXPECT_EQ(Lines(beyond), kAllLines);
}

// What the kernel answers and what the library answers, for one descriptor
// and one request, are the same: result and errno.
void ExpectPassedThrough(int fd, unsigned long request, const char* what)
{
    // Large enough for any of the answers; TIOCMIWAIT takes its mask as the argument.
    alignas(serial_struct) std::array<unsigned char, 256> kernelsBuffer{};
    alignas(serial_struct) std::array<unsigned char, 256> oursBuffer{};
    void* kernelsArgument = request == TIOCMIWAIT ? reinterpret_cast<void*>(kFarLines) : kernelsBuffer.data();
    void* oursArgument = request == TIOCMIWAIT ? reinterpret_cast<void*>(kFarLines) : oursBuffer.data();
    errno = 0;
    const long kernels = ::syscall(SYS_ioctl, fd, request, kernelsArgument);
    const int kernelsErrno = errno;
    errno = 0;
    const int ours = ::ioctl(fd, request, oursArgument);
    EXPECT_EQ(ours, kernels) << what << ", request " << std::hex << request;
    EXPECT_EQ(errno, kernelsErrno) << what << ", request " << std::hex << request;
    EXPECT_EQ(oursBuffer, kernelsBuffer) << what << ", request " << std::hex << request;
}

TEST_F(PortTest, WhatIsNoTavrelPortGoesToTheKernelUnchanged)
{
    PtyPair ordinary;   // no link leads to it
    const int ordinarySlave = OpenRaw(ordinary.slavePath());
    PtyPair elsewhere;   // linked, but from a folder that is not a port folder
    TempFolder otherFolder;
    std::filesystem::create_symlink(elsewhere.slavePath(), otherFolder.path() / "COM3");
    const int elsewhereSlave = OpenRaw((otherFolder.path() / "COM3").string());
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const int notOpen = ::dup(null);
    ::close(notOpen);

    const std::vector<std::pair<int, const char*>> descriptors{
        {ordinarySlave, "an ordinary pty"}, {elsewhereSlave, "a pty linked elsewhere"}, {far_.master(), "the port's master"},
        {null, "/dev/null"},                {pipeEnds[0], "a pipe"},                    {notOpen, "a closed descriptor"}};
    for (const auto& [fd, what] : descriptors) {
        for (unsigned long request : kModemRequests) {
            ExpectPassedThrough(fd, request, what);
        }
    }
    for (int fd : {ordinarySlave, elsewhereSlave, null, pipeEnds[0], pipeEnds[1]}) {
        ::close(fd);
    }
}

TEST(PortFolderList, TakesTheFoldersBetweenColonsAndSkipsEmptyOnes)
{
    tavrel::compat::LoadPortFolders(":/run/tavrel/ann::/home/bo/ports:");
    ASSERT_EQ(tavrel::compat::PortFolderCount(), 2);
    EXPECT_STREQ(tavrel::compat::PortFolder(0), "/run/tavrel/ann");
    EXPECT_STREQ(tavrel::compat::PortFolder(1), "/home/bo/ports");
    EXPECT_EQ(tavrel::compat::PortFolder(2), nullptr);

    std::string many;
    for (int folder = 0; folder < tavrel::compat::kMaxPortFolders + 5; ++folder) {
        many += "/f" + std::to_string(folder) + ":";
    }
    tavrel::compat::LoadPortFolders(many.c_str());
    EXPECT_EQ(tavrel::compat::PortFolderCount(), tavrel::compat::kMaxPortFolders);
    EXPECT_STREQ(tavrel::compat::PortFolder(tavrel::compat::kMaxPortFolders - 1), "/f31");

    tavrel::compat::LoadPortFolders(nullptr);
    EXPECT_EQ(tavrel::compat::PortFolderCount(), 0);
}

// Threads that drive the lines of their own descriptors of one port at the
// same time each read back exactly what they set.
TEST_F(PortTest, ThreadsDriveTheirOwnDescriptorsOfOnePort)
{
    std::vector<int> ports;
    for (int thread = 0; thread < 4; ++thread) {
        ports.push_back(OpenPort());
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&, thread] {
            for (int round = 0; round < 500; ++round) {
                const int driven = (round + thread) % 2 == 0 ? TIOCM_DTR : TIOCM_RTS;
                int lines = 0;
                if (Drive(ports[static_cast<std::size_t>(thread)], TIOCMSET, driven) != 0 ||
                    ::ioctl(ports[static_cast<std::size_t>(thread)], TIOCMGET, &lines) != 0 ||
                    lines != (driven | kFarLines)) {
                    ++mismatches;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, 0);
}

// TIOCMIWAIT on a thread of its own, and a way to know that the thread
// sleeps in it instead of guessing how long it takes to get there.
class LineWait {
public:
    LineWait(int fd, unsigned long mask)
        : thread_([this, fd, mask] {
              id_ = static_cast<pid_t>(::syscall(SYS_gettid));
              started_ = true;
              result_ = ::ioctl(fd, TIOCMIWAIT, mask);
              error_ = errno;
          })
    {
    }
    ~LineWait()
    {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    LineWait(const LineWait&) = delete;
    LineWait& operator=(const LineWait&) = delete;

    // True once the thread sleeps in a poll() without a time-out, as the
    // host reports it; false after 10 s of never finding it there (a thread
    // that spins, or wakes up to look, never is).
    bool WaitUntilAsleep() const
    {
        for (int look = 0; look < 10000; ++look) {
            if (started_ && SleepsInEndlessPoll()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    void Interrupt(int signal) { ::pthread_kill(thread_.native_handle(), signal); }

    // The wait's result and errno, once it returned.
    std::pair<int, int> Result()
    {
        thread_.join();
        return {result_, error_};
    }

private:
    bool SleepsInEndlessPoll() const
    {
        const std::string task = "/proc/self/task/" + std::to_string(id_.load());
        std::ifstream stat(task + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto state = line.rfind(") ");
        long call = -1;
        std::string fds, count, timeout;
        std::ifstream(task + "/syscall") >> call >> fds >> count >> timeout;
        // poll() takes an int, -1 for no time-out; ppoll() a pointer, null for none.
        const auto argument = timeout.empty() ? 1ull : std::stoull(timeout, nullptr, 16);
        const bool endless = (call == SYS_poll && static_cast<std::int32_t>(argument) == -1) ||
                             (call == SYS_ppoll && argument == 0);
        return state != std::string::npos && line.compare(state + 2, 1, "S") == 0 && endless;
    }

    std::atomic<pid_t> id_{0};
    std::atomic<bool> started_{false};
    int result_ = 0;
    int error_ = 0;
    std::thread thread_;
};

TEST_F(PortTest, AWaitForALineChangeSleepsUntilThePortGoesAway)
{
    const int port = OpenPort();
    LineWait wait(port, TIOCM_CD | TIOCM_RNG);
    EXPECT_TRUE(wait.WaitUntilAsleep());
    far_.CloseMaster();   // also when it never slept, so that the wait ends
    EXPECT_EQ(wait.Result(), std::make_pair(0, 0));
    EXPECT_EQ(Lines(port), TIOCM_DTR | TIOCM_RTS);
}

void NoteSignal(int) {}

TEST_F(PortTest, ASignalInterruptsAWaitWithEintr)
{
    struct sigaction action {};
    action.sa_handler = NoteSignal;   // no SA_RESTART: the call must come back
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    const int port = OpenPort();
    // A wait for a line that never changes, and one for lines that change.
    for (unsigned long mask : {static_cast<unsigned long>(TIOCM_RNG), static_cast<unsigned long>(kFarLines)}) {
        LineWait wait(port, mask);
        EXPECT_TRUE(wait.WaitUntilAsleep()) << mask;
        wait.Interrupt(SIGUSR1);
        EXPECT_EQ(wait.Result(), std::make_pair(-1, EINTR)) << mask;
    }
    ::sigaction(SIGUSR1, &previous, nullptr);
}

}  // namespace
