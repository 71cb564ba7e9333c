#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "gpsd/gpsd_control.h"
#include "gpsd/gpsd_handoff.h"
#include "platform/debug_capture.h"
#include "platform/host/unique_fd.h"
#include "platform/strings.h"
#include "support/gpsd_server.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace {

using namespace std::chrono_literals;
using tavrel::gpsd::GpsdControl;
using tavrel::gpsd::GpsdReply;
using platform::host::UniqueFd;
using tavrel::testing::GpsdServer;
using tavrel::testing::PtyPair;
using tavrel::testing::TempFolder;

// A receiver on a pseudo-terminal, reachable through a link as a virtual
// port is, and open to gpsd's own user: it sends a fix every 100 ms.
class LinkedReceiver {
public:
    explicit LinkedReceiver(const std::filesystem::path& link) : link_(link)
    {
        ::chmod(pty_.slavePath().c_str(), 0666);
        std::filesystem::create_symlink(pty_.slavePath(), link);
        // While gpsd does not read, what does not fit is dropped, as a receiver's line would.
        ::fcntl(pty_.master(), F_SETFL, O_NONBLOCK);
        feeder_ = std::thread([this] {
            const std::vector<unsigned char> fix = tavrel::testing::FixSentence();
            while (!stop_) {
                (void)::write(pty_.master(), fix.data(), fix.size());
                std::this_thread::sleep_for(100ms);
            }
        });
    }
    ~LinkedReceiver()
    {
        stop_ = true;
        feeder_.join();
    }
    std::string path() const { return link_.string(); }

private:
    std::filesystem::path link_;
    PtyPair pty_;
    std::atomic<bool> stop_{false};
    std::thread feeder_;
};

std::size_t HandOffFailures(const platform::DebugOutputCapture& debug)
{
    const auto lines = debug.Lines();
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [](const std::u16string& line) {
        return line.starts_with(u"gpsd hand-off: ");
    }));
}

std::string Joined(const platform::DebugOutputCapture& debug)
{
    std::string text;
    for (const std::u16string& line : debug.Lines()) {
        text += platform::ToUtf8(line);
    }
    return text;
}

class GpsdHandOffTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::permissions(folder_.path(), std::filesystem::perms::all & ~std::filesystem::perms::group_write &
                                                         ~std::filesystem::perms::others_write);
        ASSERT_TRUE(gpsd_.running()) << gpsd_.Log();
    }

    std::filesystem::path Port(const char* name) const { return folder_.path() / name; }
    std::string Socket() const { return gpsd_.controlSocket().string(); }

    TempFolder folder_;
    GpsdServer gpsd_{folder_.path() / "gpsd"};
    platform::DebugOutputCapture debug_;
};

TEST_F(GpsdHandOffTest, GpsdReadsAHandedPortAndLetsItGoWhenTakenBack)
{
    LinkedReceiver com2(Port("COM2"));
    LinkedReceiver com3(Port("COM3"));
    tavrel::testing::GpsdWatcher watcher(gpsd_);
    {
        const tavrel::gpsd::GpsdHandOff handedOff(Socket(), {com2.path(), com3.path()});
        EXPECT_TRUE(watcher.SawFixFrom(com2.path(), 20s)) << gpsd_.Log();
        EXPECT_TRUE(watcher.SawFixFrom(com3.path(), 20s)) << gpsd_.Log();
    }
    EXPECT_EQ(debug_.Count(platform::ToUtf16("gpsd takes " + com2.path() + "\n")), 1u) << Joined(debug_);
    EXPECT_EQ(debug_.Count(platform::ToUtf16("gpsd takes " + com3.path() + "\n")), 1u) << Joined(debug_);
    EXPECT_EQ(HandOffFailures(debug_), 0u) << Joined(debug_);
    // gpsd lists them no more: adding one is accepted again, not refused as known.
    GpsdControl gpsd(Socket(), 10s);
    EXPECT_EQ(gpsd.Add(com2.path()), GpsdReply::Ok) << gpsd.failure();
    EXPECT_EQ(gpsd.Add(com2.path()), GpsdReply::Error) << gpsd.failure();
}

// A run that ended without taking its port back leaves gpsd listing the old
// one; the next run's port under the same path must still be read, although
// gpsd opens a device it was handed anew only seconds later and when woken.
TEST_F(GpsdHandOffTest, APortThatGpsdStillListsIsTakenAgain)
{
    LinkedReceiver com2(Port("COM2"));
    {
        GpsdControl earlierRun(Socket(), 10s);
        ASSERT_EQ(earlierRun.Add(com2.path()), GpsdReply::Ok) << earlierRun.failure();
    }

    tavrel::testing::GpsdWatcher watcher(gpsd_);
    const tavrel::gpsd::GpsdHandOff handedOff(Socket(), {com2.path()});

    EXPECT_TRUE(watcher.SawFixFrom(com2.path(), 20s)) << gpsd_.Log();
    EXPECT_EQ(debug_.Count(platform::ToUtf16("gpsd takes " + com2.path() + "\n")), 1u) << Joined(debug_);
    EXPECT_EQ(HandOffFailures(debug_), 0u) << Joined(debug_);
}

// A control socket that is there but does not behave: a listener that never
// accepts (gpsd hung), one that closed (gpsd gone), one that is not gpsd.
class UnixListener {
public:
    explicit UnixListener(const std::filesystem::path& path) : socket_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        bound_ = ::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 ::listen(socket_.get(), 4) == 0;
    }
    bool bound() const { return bound_; }
    int get() const { return socket_.get(); }
    void Close() { socket_ = UniqueFd(); }

private:
    UniqueFd socket_;
    bool bound_ = false;
};

TEST(GpsdHandOffFaults, EachBrokenSocketCostsOneDebugLineAndTheCallReturns)
{
    TempFolder folder;
    const std::vector<std::string> ports = {"/run/tavrel/me/COM2", "/run/tavrel/me/COM3"};
    platform::DebugOutputCapture debug;

    tavrel::gpsd::HandPortsToGpsd((folder.path() / "missing.sock").string(), ports);
    EXPECT_EQ(HandOffFailures(debug), 1u) << Joined(debug);
    EXPECT_NE(Joined(debug).find("cannot reach"), std::string::npos) << Joined(debug);

    debug.Clear();
    UnixListener gone(folder.path() / "gone.sock");
    ASSERT_TRUE(gone.bound());
    gone.Close();
    tavrel::gpsd::TakePortsFromGpsd((folder.path() / "gone.sock").string(), ports);
    EXPECT_EQ(HandOffFailures(debug), 1u) << Joined(debug);
    EXPECT_NE(Joined(debug).find(std::strerror(ECONNREFUSED)), std::string::npos) << Joined(debug);

    // Never accepted, never answered: the connection waits in the backlog.
    debug.Clear();
    UnixListener silent(folder.path() / "silent.sock");
    ASSERT_TRUE(silent.bound());
    tavrel::gpsd::TakePortsFromGpsd((folder.path() / "silent.sock").string(), ports);
    EXPECT_EQ(HandOffFailures(debug), 1u) << Joined(debug);
    EXPECT_NE(Joined(debug).find("no answer from"), std::string::npos) << Joined(debug);
}

TEST(GpsdHandOffFaults, ASocketThatDoesNotAnswerAsGpsdIsLeftAtOnce)
{
    TempFolder folder;
    UnixListener stranger(folder.path() / "stranger.sock");
    ASSERT_TRUE(stranger.bound());
    std::thread answering([&] {
        UniqueFd client(::accept(stranger.get(), nullptr, nullptr));
        char command[256];
        (void)::recv(client.get(), command, sizeof command, 0);
        const char answer[] = "HELLO, this is not gpsd\n";
        (void)::send(client.get(), answer, sizeof answer - 1, MSG_NOSIGNAL);
        // Held open until the other side has left.
        (void)::recv(client.get(), command, sizeof command, 0);
    });
    platform::DebugOutputCapture debug;

    tavrel::gpsd::HandPortsToGpsd((folder.path() / "stranger.sock").string(), {"/tmp/COM2", "/tmp/COM3"});
    answering.join();

    EXPECT_EQ(HandOffFailures(debug), 1u) << Joined(debug);
    EXPECT_NE(Joined(debug).find("not as gpsd does"), std::string::npos) << Joined(debug);
}

// The end of a run cuts a hand-over that waits for gpsd short, instead of
// holding the run's end until gpsd answers.
TEST(GpsdHandOffFaults, AHandOverThatWaitsIsCutShortWhenTheRunEnds)
{
    TempFolder folder;
    UnixListener silent(folder.path() / "silent.sock");
    ASSERT_TRUE(silent.bound());
    platform::DebugOutputCapture debug;
    {
        tavrel::gpsd::GpsdHandOff handedOff((folder.path() / "silent.sock").string(), {"/tmp/COM2"});
    }
    EXPECT_EQ(debug.Count(platform::ToUtf16("gpsd hand-off: the conversation with " +
                                            (folder.path() / "silent.sock").string() + " was cut short\n")),
              1u)
        << Joined(debug);
}

TEST(GpsdControlLines, APathWithALineBreakIsNeverSent)
{
    TempFolder folder;
    UnixListener listener(folder.path() / "gpsd.sock");
    ASSERT_TRUE(listener.bound());
    GpsdControl gpsd((folder.path() / "gpsd.sock").string(), 10s);
    ASSERT_TRUE(gpsd.connected()) << gpsd.failure();

    EXPECT_EQ(gpsd.Add("/tmp/COM2\n-/dev/ttyS0"), std::nullopt);

    // Nothing reached the socket: the accepted connection has no bytes waiting.
    UniqueFd accepted(::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK));
    char byte = 0;
    EXPECT_EQ(::recv(accepted.get(), &byte, 1, 0), -1);
    EXPECT_EQ(errno, EAGAIN);
}

}  // namespace
