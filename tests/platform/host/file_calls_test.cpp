// Writing every byte whatever cuts a write short, and reading only what is
// a small regular file, without ever waiting on a FIFO.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/host/file_calls.h"
#include "testkit/proc_stats.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;
using platform::host::ReadSmallFile;
using platform::host::UniqueFd;
namespace fs = std::filesystem;

std::string CountingText(std::size_t size)
{
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return text;
}

// A handler without SA_RESTART, so that a signal cuts a blocked write short:
// with the bytes written so far, or with EINTR when there were none.
class InterruptingSignal {
public:
    InterruptingSignal()
    {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        ::sigaction(SIGUSR1, &action, &previous_);
    }
    ~InterruptingSignal() { ::sigaction(SIGUSR1, &previous_, nullptr); }
    InterruptingSignal(const InterruptingSignal&) = delete;
    InterruptingSignal& operator=(const InterruptingSignal&) = delete;

private:
    struct sigaction previous_ {};
};

std::string ReadExactly(int fd, std::size_t count)
{
    std::string got;
    char chunk[4096];
    while (got.size() < count) {
        const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, count - got.size()));
        if (n <= 0) {
            break;
        }
        got.append(chunk, static_cast<std::size_t>(n));
    }
    return got;
}

TEST(WriteAll, EveryByteArrivesInOrderThoughSignalsCutTheWritesShort)
{
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    UniqueFd reading(ends[0]);
    UniqueFd writing(ends[1]);
    ASSERT_GT(::fcntl(writing.get(), F_SETPIPE_SZ, 4096), 0);
    const InterruptingSignal signal;
    const std::string text = CountingText(256 * 1024);

    std::atomic<pid_t> writerId{0};
    bool written = false;
    std::thread writer([&] {
        writerId = static_cast<pid_t>(::syscall(SYS_gettid));
        written = platform::host::WriteAll(writing.get(), text);
        writing = UniqueFd();
    });
    std::string got;
    for (int cut = 0; cut < 8; ++cut) {
        // Asleep in write() with the pipe full: the signal ends that write
        // short, with the bytes that it put into the pipe (or with EINTR
        // when it had put none yet). Reading a page makes room for the next.
        if (!WaitUntilSleepsIn(writerId, {SYS_write})) {
            ADD_FAILURE() << "the writer never waited for room in write()";
            break;   // the rest is read below, so that the writer ends
        }
        EXPECT_EQ(::pthread_kill(writer.native_handle(), SIGUSR1), 0);
        got += ReadExactly(reading.get(), 4096);
    }
    got += ReadExactly(reading.get(), text.size() - got.size());
    writer.join();
    EXPECT_TRUE(written);
    EXPECT_EQ(got.size(), text.size());
    EXPECT_TRUE(got == text) << "bytes lost, repeated or out of order";
}

TEST(WriteAll, AFailureIsReportedWithItsErrno)
{
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    UniqueFd writing(ends[1]);
    ::close(ends[0]);
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    errno = 0;
    EXPECT_FALSE(platform::host::WriteAll(writing.get(), "nobody reads this"));
    EXPECT_EQ(errno, EPIPE);
    std::signal(SIGPIPE, previous);
}

TEST(ReadSmallFile, TakesASmallRegularFileWholeAndRefusesAnythingElseSayingWhy)
{
    TempFolder folder;
    const fs::path file = folder.path() / "entry";
    WriteWholeFile(file, std::string(100, 'x'));
    EXPECT_EQ(ReadSmallFile(file, 100), std::string(100, 'x'));
    EXPECT_EQ(ReadSmallFile(file), std::string(100, 'x'));

    errno = 0;
    EXPECT_FALSE(ReadSmallFile(file, 99));
    EXPECT_EQ(errno, EFBIG);
    EXPECT_TRUE(platform::host::FoundNoSmallFile(errno));

    errno = 0;
    EXPECT_FALSE(ReadSmallFile(folder.path() / "missing"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(platform::host::FoundNoSmallFile(errno));

    // A FIFO that nobody writes to: refused at once, never waited on.
    const fs::path fifo = folder.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    errno = 0;
    EXPECT_FALSE(ReadSmallFile(fifo));
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_FALSE(ReadSmallFile(folder.path()));
    EXPECT_EQ(errno, EINVAL);
}

TEST(SyncFolder, SyncsAFolderAndFailsForWhatIsNone)
{
    TempFolder folder;
    EXPECT_TRUE(platform::host::SyncFolder(folder.path()));
    WriteWholeFile(folder.path() / "file", "text");
    EXPECT_FALSE(platform::host::SyncFolder(folder.path() / "file"));
    EXPECT_FALSE(platform::host::SyncFolder(folder.path() / "missing"));
}

}  // namespace
