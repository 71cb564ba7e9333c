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

bool Exists(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

bool WaitForLinks(const std::vector<std::filesystem::path>& links, std::chrono::seconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::all_of(links.begin(), links.end(), Exists)) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
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
    std::filesystem::path root() const { return folder_.path() / "device"; }
    std::filesystem::path ports() const { return root() / "ports"; }
    std::filesystem::path PortLink(int number) const { return ports() / ("COM" + std::to_string(number)); }

    void Boot() const
    {
        platform::DeviceSettings settings;
        settings.deviceRoot = root();
        settings.portFolder = ports();
        settings.syncHostSerialPorts = false;
        ASSERT_TRUE(platform::BootDevice(settings).ok);
    }

    // Maps the pty as a built-in port on a number that neither the host's
    // ports nor the outputs use, and saves the settings of a run that had
    // Autostart ticked with outputs 2 and 5; false when the host holds 2 or 5.
    std::optional<DWORD> PrepareAutostart()
    {
        Boot();
        const std::vector<DWORD> taken = BuiltInNumbers();
        std::optional<DWORD> input;
        for (DWORD n : {1u, 3u, 4u, 6u, 7u, 8u, 9u, 0u}) {
            if (!input && std::find(taken.begin(), taken.end(), n) == taken.end()) {
                input = n;
            }
        }
        const bool outputsFree = std::find(taken.begin(), taken.end(), 2u) == taken.end() &&
                                 std::find(taken.begin(), taken.end(), 5u) == taken.end();
        if (input && outputsFree) {
            EXPECT_TRUE(tavrel::tools::MapBuiltInPort(u"Gps", static_cast<int>(*input), gps_.slavePath()));
            SetUserNumber(u"Autostart", 1);
            SetUserNumber(u"Split", 72);
            SetUserNumber(u"Port", *input);
            SetUserNumber(u"Baud", 12);
        }
        platform::ShutdownDevice();
        return outputsFree ? input : std::nullopt;
    }

    ChildProcess Run(const std::string& program, const std::string& name) const
    {
        return ChildProcess(program, {}, DeviceEnvironment(root(), ports()), folder_.path() / name);
    }

    TempFolder folder_;
    PtyPair gps_;
};

TEST_F(BootRunTest, AutostartRelaysEveryByteToTheSavedOutputsAndSavesWhenTerminated)
{
    {
        ChildProcess install = Run(TAVREL_INSTALL_PATH, "install");
        ASSERT_EQ(install.WaitExit(60s), 0) << install.Errors();
    }
    const std::optional<DWORD> input = PrepareAutostart();
    if (!input) {
        GTEST_SKIP() << "this host's own serial ports hold COM2 or COM5";
    }

    ChildProcess first = Run(TAVREL_PROGRAM_PATH, "first");
    ASSERT_TRUE(WaitForLinks({PortLink(2), PortLink(5)}, 30s)) << first.Errors();
    std::vector<int> readers;
    for (int n : {2, 5}) {
        readers.push_back(OpenRaw(PortLink(n).string()));
        ASSERT_GE(readers.back(), 0);
    }
    ASSERT_TRUE(WaitUntilRelaying(gps_, readers)) << first.Errors();
    const std::vector<unsigned char> all = AllByteValues();
    gps_.Write(all);
    for (int reader : readers) {
        EXPECT_EQ(ReadFor(reader, all.size()), all);
    }

    {
        ChildProcess second = Run(TAVREL_PROGRAM_PATH, "second");
        EXPECT_EQ(second.WaitExit(60s), 0) << second.Errors();
        EXPECT_NE(second.Errors().find(kAlreadyRunning), std::string::npos) << second.Errors();
    }

    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitExit(60s), 1) << first.Errors();
    for (int reader : readers) {
        ::close(reader);
    }
    EXPECT_FALSE(Exists(PortLink(2)));
    EXPECT_FALSE(Exists(PortLink(5)));

    const std::string saved = ReadWholeFile(root() / "registry" / "user.reg");
    EXPECT_NE(saved.find("\"Split\""), std::string::npos) << saved;
    Boot();
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
