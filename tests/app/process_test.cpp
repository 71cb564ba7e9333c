// The program as processes: a second copy hands over to the running one, and
// the boot-time run that relays a serial input to the saved outputs unattended
// and saves its settings when it is told to end.
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/tray_and_about.h"
#include "boot_run.h"
#include "child_process.h"
#include "platform/boot.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/user_input.h"
#include "program_harness.h"
#include "relay/relay_run.h"
#include "support/pty_pair.h"
#include "support/temp_device.h"
#include "support/test_device.h"
#include "support/user_driver.h"
#include "tools/device_setup.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

const std::string kAlreadyRunning = "Tavrel is already running...";

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
    ChildProcess second(TAVREL_PROGRAM_PATH, {}, DeviceEnvironment(device.root(), device.portFolder()),
                        scratch.path() / "second");
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

// The boot-time run, from a device that nothing but the installer has touched.
class BootRunTest : public ::testing::Test {
protected:
    BootRunDevice device_;
};

TEST_F(BootRunTest, AutostartRelaysEveryByteToTheSavedOutputsAndSavesWhenTerminated)
{
    {
        ChildProcess install = device_.Run(TAVREL_INSTALL_PATH, "install");
        ASSERT_EQ(install.WaitExit(60s), 0) << install.Errors();
    }
    const std::optional<DWORD> input = device_.PrepareLastRun(1);
    if (!input) {
        GTEST_SKIP() << "this host's own serial ports hold COM2 or COM5";
    }

    ChildProcess first = device_.Run(TAVREL_PROGRAM_PATH, "first");
    ASSERT_TRUE(WaitForLinks({device_.PortLink(2), device_.PortLink(5)})) << first.Errors();
    std::vector<int> readers;
    for (int n : {2, 5}) {
        readers.push_back(OpenRaw(device_.PortLink(n).string()));
        ASSERT_GE(readers.back(), 0);
    }
    ASSERT_TRUE(WaitUntilRelaying(device_.gps(), readers)) << first.Errors();
    const std::vector<unsigned char> all = AllByteValues();
    device_.gps().Write(all);
    for (int reader : readers) {
        EXPECT_EQ(ReadFor(reader, all.size()), all);
    }

    {
        ChildProcess second = device_.Run(TAVREL_PROGRAM_PATH, "second");
        EXPECT_EQ(second.WaitExit(60s), 0) << second.Errors();
        EXPECT_NE(second.Errors().find(kAlreadyRunning), std::string::npos) << second.Errors();
    }

    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitExit(60s), 1) << first.Errors();
    for (int reader : readers) {
        ::close(reader);
    }
    EXPECT_FALSE(PathExists(device_.PortLink(2)));
    EXPECT_FALSE(PathExists(device_.PortLink(5)));

    const std::string saved = ReadWholeFile(device_.root() / "registry" / "user.reg");
    EXPECT_NE(saved.find("\"Split\""), std::string::npos) << saved;
    device_.Boot();
    EXPECT_EQ(UserNumber(u"Split"), 72u);
    EXPECT_EQ(UserNumber(u"Autostart"), 1u);
    EXPECT_EQ(UserNumber(u"Port"), *input);
    EXPECT_EQ(UserNumber(u"Baud"), 12u);
    const std::string shortcut = ReadWholeFile(platform::HostPathOf(u"\\Windows\\StartUp\\Tavrel.lnk"));
    EXPECT_FALSE(shortcut.empty());
    EXPECT_EQ(shortcut, ReadWholeFile(platform::HostPathOf(u"\\Windows\\Start Menu\\Programs\\Tavrel.lnk")));
    platform::ShutdownDevice();
}

}  // namespace
