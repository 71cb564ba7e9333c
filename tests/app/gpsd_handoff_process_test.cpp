// Tavrel handing a port to a real gpsd (Debian's, started with a control
// socket and no device, as the gpsd service waits for devices): gpsd reports
// positions from its port soon after each start of Tavrel, also when Tavrel
// was ended and started again at once; and it gets that one port only, so
// that the programs on the others read every byte.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "device_processes.h"
#include "platform/strings.h"
#include "relay/relay_run.h"
#include "support/gpsd_server.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

class GpsdHandOffProcessTest : public AutostartDeviceTest,
                               public ::testing::WithParamInterface<GpsdServer::Opens> {
protected:
    void SetUp() override
    {
        AutostartDeviceTest::SetUp();
        ASSERT_TRUE(gpsd_.running()) << gpsd_.Log();
        // gpsd reads as its own user: the port links must be reachable.
        ::chmod(scratch().c_str(), 0755);
        ::chmod(root().c_str(), 0755);
        SaveNumber(u"GpsdHandoff", 1);
        SaveText(u"GpsdSocket", platform::ToUtf16(gpsd_.controlSocket().string()));
        // The receiver sends a fix ten times a second; what finds no room while
        // nobody reads is dropped, as on a serial line.
        ::fcntl(gps().master(), F_SETFL, O_NONBLOCK);
        receiver_ = std::thread([this] {
            const std::vector<unsigned char> fix = FixSentence();
            while (!stop_) {
                (void)::write(gps().master(), fix.data(), fix.size());
                std::this_thread::sleep_for(100ms);
            }
        });
    }
    void TearDown() override { StopTheReceiver(); }

    // From then on the test writes to the receiver's port itself, waiting for room.
    void StopTheReceiver()
    {
        stop_ = true;
        if (receiver_.joinable()) {
            receiver_.join();
        }
        ::fcntl(gps().master(), F_SETFL, 0);
    }

    // The seconds from `started` until gpsd reported a position from the
    // port, or nothing when none came within 30 s.
    std::optional<double> AwaitFix(const ChildProcess& program, std::chrono::steady_clock::time_point started)
    {
        if (!watcher_.SawFixFrom(port_, 30s)) {
            ADD_FAILURE() << program.Errors() << gpsd_.Log();
            return std::nullopt;
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }

    // Ends Tavrel as a service manager does; it handed the port to gpsd and had
    // nothing to complain of.
    void End(ChildProcess& program) const
    {
        program.Signal(SIGTERM);
        ASSERT_TRUE(program.WaitExit(30s).has_value()) << program.Errors();
        EXPECT_NE(program.Errors().find("gpsd takes " + port_ + "\n"), std::string::npos) << program.Errors();
        EXPECT_EQ(program.Errors().find("gpsd hand-off:"), std::string::npos) << program.Errors();
    }

    GpsdServer gpsd_{scratch() / "gpsd", GetParam()};
    // A navigation program that watches gpsd all along.
    GpsdWatcher watcher_{gpsd_};
    const std::string port_ = PortLink(kSavedOutputs.front()).string();
    std::atomic<bool> stop_{false};
    std::thread receiver_;
};

TEST_P(GpsdHandOffProcessTest, GpsdReportsPositionsSoonAfterEachStart)
{
    // gpsd opens what it is handed at once with -n (as README advises);
    // without, a device handed anew after it let it go only once more than
    // 2 whole seconds have passed, and when something wakes it (Tavrel does).
    const double bound = GetParam() == GpsdServer::Opens::AtOnce ? 5.0 : 10.0;
    for (int start = 1; start <= 3; ++start) {
        watcher_.Forget();
        const auto started = std::chrono::steady_clock::now();
        ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program" + std::to_string(start), {}, nullptr, kDebugLines);
        const std::optional<double> seconds = AwaitFix(program, started);
        ASSERT_TRUE(seconds.has_value());
        RecordProperty("start" + std::to_string(start) + "_seconds_to_fix", std::to_string(*seconds));
        EXPECT_LE(*seconds, bound) << "start " << start << "\n" << gpsd_.Log();
        // Ended as soon as gpsd reads it, and started again at once.
        End(program);
    }
}

// The stream of a receiver that sends a fix and a numbered sentence of its
// own in turn, so that a reader that misses any of it is found out.
std::vector<unsigned char> NumberedFixes(int count)
{
    std::vector<unsigned char> stream;
    for (int i = 0; i < count; ++i) {
        const std::vector<unsigned char> fix = FixSentence();
        const std::string numbered = "$PTVRL," + std::to_string(i) + "*00\r\n";
        stream.insert(stream.end(), fix.begin(), fix.end());
        stream.insert(stream.end(), numbered.begin(), numbered.end());
    }
    return stream;
}

std::size_t Occurrences(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

using GpsdOnePortTest = GpsdHandOffProcessTest;

TEST_P(GpsdOnePortTest, GpsdIsToldOfItsPortOnlyAndAReaderOfAnotherGetsEveryByte)
{
    PrepareLastRun(1, std::nullopt, {2, 3, 4, 5, 6});
    SaveNumber(u"GpsdPort", 4);
    const std::string gpsdPort = PortLink(4).string();
    ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program", {}, nullptr, kDebugLines);
    ASSERT_TRUE(watcher_.SawFixFrom(gpsdPort, 30s)) << program.Errors() << gpsd_.Log();

    // A program on COM3 reads while gpsd reads COM4.
    StopTheReceiver();
    const int reader = ::open(PortLink(3).c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(WaitUntilRelaying(gps(), {reader}));
    watcher_.Forget();
    const std::vector<unsigned char> stream = NumberedFixes(300);
    gps().Write(stream);
    // The reader looks only once gpsd has read its port: gpsd sharing COM3
    // would have taken some of it by then.
    EXPECT_TRUE(watcher_.SawFixFrom(gpsdPort, 30s)) << gpsd_.Log();
    EXPECT_TRUE(ReadFor(reader, stream.size(), 30s) == stream);
    ::close(reader);

    program.Signal(SIGTERM);
    ASSERT_TRUE(program.WaitExit(30s).has_value()) << program.Errors();
    EXPECT_EQ(Occurrences(program.Errors(), "gpsd takes "), 1u) << program.Errors();
    EXPECT_EQ(Occurrences(program.Errors(), "gpsd takes " + gpsdPort + "\n"), 1u) << program.Errors();
}

INSTANTIATE_TEST_SUITE_P(GpsdOpensAtOnce, GpsdOnePortTest, ::testing::Values(GpsdServer::Opens::AtOnce),
                         [](const auto&) { return "AtOnce"; });

INSTANTIATE_TEST_SUITE_P(GpsdOpens, GpsdHandOffProcessTest,
                         ::testing::Values(GpsdServer::Opens::AtOnce, GpsdServer::Opens::OnWatch),
                         [](const auto& param) {
                             return param.param == GpsdServer::Opens::AtOnce ? "AtOnce" : "OnAWatch";
                         });

}  // namespace
