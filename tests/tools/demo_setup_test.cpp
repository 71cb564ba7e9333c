// The demo set-up that scripts/run uses: unattended it makes Tavrel relay by
// itself; attended it only preselects the input and keeps Autostart off; after
// a simulated receiver is gone it takes the demo back out of the login path;
// and a wrong baud index or device changes nothing.
#include <filesystem>

#include <gtest/gtest.h>

#include "child_process.h"
#include "device_processes.h"
#include "platform/boot.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "program_harness.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

const std::u16string kDemoInput = u"Drivers\\BuiltIn\\Demo input";

class DemoSetupTest : public ::testing::Test {
protected:
    struct Outcome {
        std::optional<int> exitCode;
        std::string errors;
    };
    Outcome Setup(const std::vector<std::string>& arguments) const
    {
        ChildProcess setup = device_.Run(TAVREL_DEMO_SETUP_PATH, "setup", arguments);
        const std::optional<int> exitCode = setup.WaitExit(60s);
        return {exitCode, setup.Errors()};
    }

    BootRunDevice device_;
};

TEST_F(DemoSetupTest, AttendedPreselectsTheInputAndKeepsAutostartOff)
{
    EXPECT_EQ(Setup({"--attended", device_.gps().slavePath(), "12"}).exitCode, 0);
    device_.Boot();
    EXPECT_EQ(ReadNumber(HKEY_LOCAL_MACHINE, kDemoInput, u"Index"), 9u);
    const auto hostDevice = ReadValue(HKEY_LOCAL_MACHINE, kDemoInput, u"HostDevice");
    ASSERT_TRUE(hostDevice);
    EXPECT_EQ(hostDevice->data, TextBytes(platform::ToUtf16(device_.gps().slavePath())));
    EXPECT_EQ(UserNumber(u"Port"), 9u);
    EXPECT_EQ(UserNumber(u"Baud"), 12u);
    EXPECT_EQ(UserNumber(u"Autostart"), 0u);
    EXPECT_FALSE(UserNumber(u"Split"));
    platform::ShutdownDevice();
}

TEST_F(DemoSetupTest, RemoveTakesAGoneReceiverOutOfTheNextLogin)
{
    EXPECT_EQ(Setup({device_.gps().slavePath()}).exitCode, 0);
    device_.Boot();
    EXPECT_EQ(UserNumber(u"Autostart"), 1u);
    EXPECT_EQ(UserNumber(u"Split"), 24u);   // COM2 and COM3
    EXPECT_EQ(UserNumber(u"Baud"), 5u);
    platform::ShutdownDevice();
    const std::filesystem::path startupShortcut = device_.root() / "fs" / "Windows" / "StartUp" / "Tavrel.lnk";
    WriteWholeFile(startupShortcut, "34#\"\\Program Files\\Tavrel\\Tavrel.exe\"");

    EXPECT_EQ(Setup({"--remove"}).exitCode, 0);
    EXPECT_FALSE(Exists(startupShortcut));
    device_.Boot();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kDemoInput));
    EXPECT_EQ(UserNumber(u"Autostart"), 0u);
    EXPECT_EQ(UserNumber(u"Split"), 24u);
    platform::ShutdownDevice();
}

TEST_F(DemoSetupTest, AWrongBaudIndexOrDeviceIsReportedAndChangesNothing)
{
    const std::string tty = device_.gps().slavePath();
    const std::vector<std::pair<std::vector<std::string>, std::string>> wrong{
        {{tty, "15"}, "the baud index must be a number from 0 to 14, not '15'"},
        {{"--attended", tty, "fast"}, "the baud index must be a number from 0 to 14, not 'fast'"},
        {{"/dev/no-such-receiver"}, "there is no serial device /dev/no-such-receiver"},
        {{}, "usage: "},
    };
    for (const auto& [arguments, error] : wrong) {
        const Outcome setup = Setup(arguments);
        EXPECT_EQ(setup.exitCode, 2);
        EXPECT_NE(setup.errors.find(error), std::string::npos) << setup.errors;
    }
    EXPECT_FALSE(Exists(device_.root()));
}

}  // namespace
