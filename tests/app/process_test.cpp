// The program as processes: a second copy hands over to the running one; the
// boot-time run relays a serial input to the saved outputs unattended and
// saves its settings however it is told to end, even while the device still
// boots; an input that is one of the device's own ports is refused; the input
// is free for others once the program has ended; with Reconnect on, a
// receiver unplugged at the start is waited for; a receiver plugged in while
// it runs gets its port.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "app/tray_and_about.h"
#include "device_processes.h"
#include "platform/user_input.h"
#include "program_harness.h"
#include "platform/boot.h"
#include "relay/relay_run.h"
#include "settings/split_mask.h"
#include "state/port_lists.h"
#include "support/another_user.h"
#include "support/fake_host_tree.h"
#include "support/test_device.h"
#include "support/user_driver.h"
#include "testkit/proc_stats.h"
#include "setup/builtin_port_keys.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

const std::string kAlreadyRunning = "Tavrel is already running...";

// The lock that a process takes at the end of its boot, for its place among
// the windows of the device (run/windows/<pid>.lock), held by this test so
// that the boot of that process waits, as it would on a stuck file system.
class HeldBoardPlace {
public:
    HeldBoardPlace(const std::filesystem::path& root, pid_t process)
    {
        const auto file = root / "run" / "windows" / (std::to_string(process) + ".lock");
        std::filesystem::create_directories(file.parent_path());
        lock_ = platform::host::UniqueFd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        EXPECT_EQ(::flock(lock_.get(), LOCK_EX), 0);
    }
    void Release() { lock_ = platform::host::UniqueFd(); }

    // Whether the process waits for a lock (/proc/locks lists waiters with "->").
    static bool Waiting(pid_t process)
    {
        const std::string locks = ReadProcText("/proc/locks");
        const std::string waiter = " " + std::to_string(process) + " ";
        std::istringstream lines(locks);
        for (std::string line; std::getline(lines, line);) {
            if (line.find("->") != std::string::npos && line.find(waiter) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

private:
    platform::host::UniqueFd lock_;
};

// How often the thread named `name` of the process has been woken so far;
// nothing when the process has no such thread.
std::optional<std::uint64_t> WakeUpsOfThread(pid_t process, const std::string& name)
{
    const std::optional<ThreadSample> thread = ThreadNamed(process, name);
    return thread ? std::optional(thread->switches) : std::nullopt;
}

TEST(SingleInstance, ASecondCopyEndsWithZeroAndBringsTheHiddenFirstBack)
{
    UserDriver person;
    ResetProgramState();
    TestDevice device;
    InstallProgram(device);
    ProgramRun first;
    const HWND window = person.WaitForWindow(kMainCaption);
    ASSERT_NE(window, nullptr);
    person.PressCaptionOk(window);
    ASSERT_FALSE(person.Shown(window));

    TempFolder scratch;
    std::map<std::string, std::string> environment = DeviceEnvironment(device.root(), device.portFolder());
    environment.insert(kDebugLines.begin(), kDebugLines.end());
    ChildProcess second(TAVREL_PROGRAM_PATH, {}, environment, scratch.path() / "second");
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.WaitExit(60s), 0) << second.Errors();
    EXPECT_NE(second.Errors().find(kAlreadyRunning), std::string::npos) << second.Errors();

    EXPECT_TRUE(person.WaitUntil([&] { return person.Shown(window) && person.Foreground() == window; }));
    platform::input::WaitForIdle(window);
    EXPECT_EQ(hiddenToTray, 0u);
    EXPECT_FALSE(first.Ended());
    // The second copy neither loaded nor saved any settings.
    EXPECT_EQ(ReadWholeFile(device.root() / "registry" / "user.reg").find("Split"), std::string::npos);
}

class BootRunTest : public AutostartDeviceTest {
protected:
    // What every way of ending a relaying run leaves: the ports gone, the
    // choices saved, the Startup shortcut in place.
    void ExpectEndedAsClosingTheWindow(ChildProcess& program) const
    {
        ExpectLastRunEndedAsClosingTheWindow(program);
        EXPECT_EQ(SavedNumber(u"Port"), kSavedInput);
        EXPECT_EQ(SavedNumber(u"Baud"), 12u);
    }
};

TEST_F(BootRunTest, AutostartRelaysEveryByteToTheSavedOutputsAndSavesWhenTerminated)
{
    ChildProcess first = Run(TAVREL_PROGRAM_PATH, "first");
    ASSERT_TRUE(WaitForLinks(SavedOutputLinks())) << first.Errors();
    std::vector<int> readers;
    for (const auto& link : SavedOutputLinks()) {
        readers.push_back(OpenRaw(link.string()));
        ASSERT_GE(readers.back(), 0);
    }
    ASSERT_TRUE(WaitUntilRelaying(gps(), readers)) << first.Errors();
    const std::vector<unsigned char> all = AllByteValues();
    gps().Write(all);
    for (int reader : readers) {
        EXPECT_EQ(ReadFor(reader, all.size()), all);
    }

    {
        ChildProcess second = Run(TAVREL_PROGRAM_PATH, "second", {}, nullptr, kDebugLines);
        EXPECT_EQ(second.WaitExit(60s), 0) << second.Errors();
        EXPECT_NE(second.Errors().find(kAlreadyRunning), std::string::npos) << second.Errors();
    }

    first.Signal(SIGTERM);
    for (int reader : readers) {
        ::close(reader);
    }
    ExpectEndedAsClosingTheWindow(first);
    EXPECT_EQ(ReadWholeFile(StartupShortcut()),
              ReadWholeFile(root() / "fs" / "Windows" / "Start Menu" / "Programs" / "Tavrel.lnk"));
}

// The signals of a terminal that closes, of Ctrl-C and Ctrl-\, of a
// shutdown, and the two that scripts send to daemons, all end the program as
// closing its window does.
class EndingSignalTest : public BootRunTest, public ::testing::WithParamInterface<int> {};

TEST_P(EndingSignalTest, EndsARelayingRunAsClosingTheWindowDoes)
{
    ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program");
    ASSERT_TRUE(WaitForLinks(SavedOutputLinks())) << program.Errors();

    program.Signal(GetParam());
    ExpectEndedAsClosingTheWindow(program);
}

INSTANTIATE_TEST_SUITE_P(Signals, EndingSignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2),
                         [](const auto& named) { return std::string(sigabbrev_np(named.param)); });

// The input's exclusive mode goes with the program: a pseudo-terminal, whose
// tty outlives the program's open of it, is free for another user's program
// afterwards (world-writable here, so that only that mode can keep it out).
TEST_F(BootRunTest, AfterTheProgramEndsAnotherUserCanOpenItsInput)
{
    ASSERT_EQ(::chmod(gps().slavePath().c_str(), 0666), 0);
    ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program");
    ASSERT_TRUE(WaitForLinks(SavedOutputLinks())) << program.Errors();
    const int reader = OpenRaw(SavedOutputLinks().front().string());
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(WaitUntilRelaying(gps(), {reader})) << program.Errors();
    const OpenAttempt whileRelaying = OpenAsAnotherUser(gps().slavePath());
    EXPECT_FALSE(whileRelaying.opened);
    EXPECT_NE(whileRelaying.error.find("Device or resource busy"), std::string::npos) << whileRelaying.error;

    program.Signal(SIGTERM);
    ::close(reader);
    EXPECT_EQ(program.WaitExit(60s), 1) << program.Errors();
    const OpenAttempt after = OpenAsAnotherUser(gps().slavePath());
    EXPECT_TRUE(after.opened) << after.error;
}

// The input's tty went away before the start, and its name now leads to one of
// the ports that this device creates (here: the input is named by the link of
// COM2, which the relay creates before it opens the input).
using DeviceRunTest = DeviceProcessTest;

// A receiver that was missing at the start is relayed once it is there: every
// byte reaches every reader, and the run, ended by SIGTERM, never said it could
// not open its input.
void ExpectRelayedOncePluggedInThenEnded(const PtyPair& gps, ChildProcess& program, const std::vector<int>& readers)
{
    ASSERT_TRUE(WaitUntilRelaying(gps, readers)) << program.Errors();
    const std::vector<unsigned char> all = AllByteValues();
    gps.Write(all);
    for (int reader : readers) {
        EXPECT_EQ(ReadFor(reader, all.size()), all);
        ::close(reader);
    }
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(60s), 1) << program.Errors();
    EXPECT_EQ(program.Errors().find("Unable to open input port"), std::string::npos) << program.Errors();
}

TEST_F(DeviceRunTest, AnInputThatIsOneOfTheDevicesOwnPortsIsNotOpened)
{
    Install();
    PrepareLastRun(1, PortLink(2).string());
    ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program");
    EXPECT_TRUE(WaitForError(program, "Tavrel: Unable to open input port\n")) << program.Errors();

    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(60s), 1) << program.Errors();
    EXPECT_FALSE(Exists(PortLink(2)));
}

// An unattended start with Reconnect on while the receiver is unplugged: its
// link (as /dev/serial/by-id names it) leads nowhere. The outputs come up
// without a message, and the receiver's bytes reach their readers once it is
// plugged in.
TEST_F(DeviceRunTest, WithReconnectTheStartAtBootWaitsForAnUnpluggedReceiver)
{
    const std::filesystem::path link = scratch() / "by-id-gps";
    std::filesystem::create_symlink(scratch() / "unplugged", link);
    Install();
    PrepareLastRun(1, link.string());
    SaveNumber(u"Reconnect", 1);
    PlaceStartupShortcut();
    ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program", {}, nullptr, kDebugLines);
    ASSERT_TRUE(WaitForLinks(SavedOutputLinks())) << program.Errors();
    EXPECT_TRUE(WaitForError(program, "Input port not found; trying to open it every second\n")) << program.Errors();
    std::vector<int> readers;
    for (const auto& output : SavedOutputLinks()) {
        readers.push_back(OpenRaw(output.string()));
        ASSERT_GE(readers.back(), 0);
    }

    const std::filesystem::path plugged = scratch() / "by-id-gps.new";
    std::filesystem::create_symlink(gps().slavePath(), plugged);
    std::filesystem::rename(plugged, link);
    ExpectRelayedOncePluggedInThenEnded(gps(), program, readers);
    EXPECT_EQ(SavedNumber(u"Reconnect"), 1u);
}

// A signal while the device still boots (its boot waits for a lock held here)
// ends the process once the boot is over, or at the latest shortly after the
// signal if the boot stays stuck. The program never starts: no settings are
// loaded or saved, no port is made, and the exit code tells which signal it was.
struct BootSignal {
    int signal;
    bool bootGoesOn;
};

class SignalDuringBootTest : public BootRunTest, public ::testing::WithParamInterface<BootSignal> {};

TEST_P(SignalDuringBootTest, EndsTheProcessWithoutStartingTheProgram)
{
    const std::string settings = ReadWholeFile(UserHive());
    StartBarrier barrier;
    ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program", {}, &barrier);
    HeldBoardPlace place(root(), program.pid());
    barrier.Release();
    ASSERT_TRUE(WaitForCondition([&] { return HeldBoardPlace::Waiting(program.pid()); })) << program.Errors();

    program.Signal(GetParam().signal);
    if (GetParam().bootGoesOn) {
        place.Release();
    }
    EXPECT_EQ(program.WaitExit(30s), 128 + GetParam().signal) << program.Errors();
    for (const auto& link : SavedOutputLinks()) {
        EXPECT_FALSE(Exists(link)) << link;
    }
    EXPECT_EQ(ReadWholeFile(UserHive()), settings);
    EXPECT_TRUE(Exists(StartupShortcut()));
}

INSTANTIATE_TEST_SUITE_P(Boot, SignalDuringBootTest,
                         ::testing::Values(BootSignal{SIGHUP, true}, BootSignal{SIGTERM, false}),
                         [](const auto& named) {
                             return std::string(sigabbrev_np(named.param.signal)) +
                                    (named.param.bootGoesOn ? "WhileBootGoesOn" : "WhileBootIsStuck");
                         });

// With nothing to relay the process sleeps: the watch for signals wakes only
// when one comes.
TEST_F(DeviceRunTest, TheSignalWatchDoesNotWakeUntilASignalComes)
{
    Install();
    ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program");
    ASSERT_TRUE(WaitForMainWindow()) << program.Errors();
    const std::optional<std::uint64_t> before = WakeUpsOfThread(program.pid(), "signal-watch");
    ASSERT_TRUE(before.has_value()) << "no thread named signal-watch";
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(WakeUpsOfThread(program.pid(), "signal-watch"), before);

    program.Signal(SIGINT);
    EXPECT_EQ(program.WaitExit(60s), 1) << program.Errors();
}

// A headless run maps no Qt library, even with a display server named: the qt
// display's module, and Qt with it, is loaded only when the device is shown
// on the desktop.
TEST_F(DeviceRunTest, AHeadlessRunMapsNoQtLibrary)
{
    Install();
    ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program", {}, nullptr, {{"DISPLAY", ":4093"}});
    ASSERT_TRUE(WaitForMainWindow()) << program.Errors();
    const std::string maps = ReadProcText("/proc/" + std::to_string(program.pid()) + "/maps");
    ASSERT_NE(maps.find("libc.so"), std::string::npos) << "the maps were not read";
    EXPECT_EQ(maps.find("libQt6"), std::string::npos) << maps;
    EXPECT_EQ(maps.find("display-qt"), std::string::npos) << maps;

    program.Signal(SIGINT);
    EXPECT_EQ(program.WaitExit(60s), 1) << program.Errors();
}

// The program's device follows the host's serial devices, here those of a
// made-up host named by TAVREL_HOST_ROOT: its watch sleeps until a receiver
// is plugged in, which then gets its port in the device's registry.
TEST_F(DeviceRunTest, AReceiverPluggedInWhileTheProgramRunsGetsItsPort)
{
    Install();
    FakeHostTree host;
    ChildProcess program =
        Run(TAVREL_PROGRAM_PATH, "program", {}, nullptr, {{"TAVREL_HOST_ROOT", host.root().string()}});
    ASSERT_TRUE(WaitForMainWindow()) << program.Errors();
    const std::optional<std::uint64_t> before = WakeUpsOfThread(program.pid(), "serial-watch");
    ASSERT_TRUE(before.has_value()) << "no thread named serial-watch";
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(WakeUpsOfThread(program.pid(), "serial-watch"), before);

    host.PlugIn({"ttyACM0", "u-blox GNSS receiver", "usb-u-blox_AG_GNSS_receiver-if00"});
    EXPECT_TRUE(WaitForCondition([&] {
        const std::string machine = ReadWholeFile(SystemHive());
        return machine.find("\\Drivers\\BuiltIn\\ttyACM0]") != std::string::npos &&
               machine.find("\"FriendlyName\"=\"u-blox GNSS receiver\"") != std::string::npos;
    })) << ReadWholeFile(SystemHive());

    program.Signal(SIGINT);
    EXPECT_EQ(program.WaitExit(60s), 1) << program.Errors();
}

// A USB receiver that the device listed by itself (its key names the
// receiver's by-id link) and that is unplugged when an unattended start comes
// with Reconnect on: its key is put aside at boot, the outputs come up, and
// once the receiver is plugged in again its port comes back under the same
// number and its bytes reach the readers, without a message.
TEST_F(DeviceRunTest, AListedReceiverUnpluggedAtTheStartIsRelayedOncePluggedIn)
{
    Install();
    FakeHostTree host;
    const UsbReceiver receiver{"ttyACM0", "u-blox GNSS receiver", "usb-u-blox_AG_GNSS_receiver-if00"};
    // The made-up node leads to the simulated receiver's pseudo-terminal.
    const auto plugIn = [&] {
        const std::filesystem::path byId = host.PlugIn(receiver);
        std::filesystem::remove(host.dev() / receiver.kernelName);
        std::filesystem::create_symlink(gps().slavePath(), host.dev() / receiver.kernelName);
        return byId;
    };
    const std::string byId = plugIn().string();
    std::vector<std::filesystem::path> outputLinks;
    {
        platform::DeviceSettings settings;
        settings.deviceRoot = root();
        settings.portFolder = ports();
        settings.hostDevRoot = host.dev();
        settings.hostSysRoot = host.sys();
        ASSERT_TRUE(platform::BootDevice(settings).ok);
        const auto keys = tavrel::setup::BuiltInPortKeys();
        const auto listed = std::find_if(keys.begin(), keys.end(), [&](const auto& key) { return key.hostDevice == byId; });
        ASSERT_NE(listed, keys.end());
        ASSERT_TRUE(listed->index.has_value());
        const int number = static_cast<int>(*listed->index);
        std::vector<int> outputs;
        for (int n = 2; outputs.size() < 2; ++n) {
            if (n != number) {
                outputs.push_back(n);
            }
        }
        EXPECT_TRUE(tavrel::setup::MoveBuiltInPortsOff({number, outputs[0], outputs[1]}, byId));
        SetUserNumber(u"Port", static_cast<DWORD>(number));
        SetUserNumber(u"Baud", 12);
        SetUserNumber(u"Autostart", 1);
        SetUserNumber(u"Reconnect", 1);
        SetUserNumber(u"Split", EncodeSplit(PortList(outputs.begin(), outputs.end())));
        platform::ShutdownDevice();
        outputLinks = {PortLink(outputs[0]), PortLink(outputs[1])};
    }
    host.PullOut(receiver);

    ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program", {}, nullptr,
                               {{"TAVREL_HOST_ROOT", host.root().string()}, {"TAVREL_DEBUG", "1"}});
    ASSERT_TRUE(WaitForLinks(outputLinks)) << program.Errors();
    EXPECT_TRUE(WaitForError(program, "Input port not found; trying to open it every second\n")) << program.Errors();
    EXPECT_NE(ReadWholeFile(SystemHive()).find("\\Drivers\\Detached\\ttyACM0]"), std::string::npos)
        << ReadWholeFile(SystemHive());
    std::vector<int> readers;
    for (const auto& output : outputLinks) {
        readers.push_back(OpenRaw(output.string()));
        ASSERT_GE(readers.back(), 0);
    }

    plugIn();
    ExpectRelayedOncePluggedInThenEnded(gps(), program, readers);
}

}  // namespace
