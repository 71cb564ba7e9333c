// The start at boot: with Autostart on, the saved outputs come back, relaying
// starts and the window hides to the tray, without anybody's help.
#include <algorithm>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "app/tray_and_about.h"
#include "platform/debug_capture.h"
#include "platform/devices.h"
#include "platform/registry.h"
#include "platform/user_input.h"
#include "program_fixture.h"
#include "relay/relay_control.h"
#include "state/app_settings.h"
#include "state/port_lists.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;

class AutostartTest : public ProgramTest {
protected:
    // The settings that a run with Autostart ticked leaves behind.
    static void SaveAutostart(std::optional<DWORD> split, DWORD port = kInputPort)
    {
        SetUserNumber(u"Autostart", 1);
        SetUserNumber(u"Port", port);
        SetUserNumber(u"Baud", 12);
        if (split) {
            SetUserNumber(u"Split", *split);
        }
    }

    void ExpectHiddenWithTrayIcon(HWND window) const
    {
        EXPECT_FALSE(person_.Shown(window));
        EXPECT_EQ(hiddenToTray, 1u);
        EXPECT_EQ(platform::input::TrayIcons().size(), 1u);
    }
};

// Relaying starts before the free outputs that it does not take are looked
// for; once they are, the lists are what a scan of all of them gives.
TEST_F(AutostartTest, RelayingStartsBeforeTheOtherFreeOutputsAreProbed)
{
    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\Other", 4);   // number 4's probe fails
    ASSERT_NE(ActivateDeviceEx(u"Drivers\\Other", nullptr, 0, nullptr), nullptr);
    platform::DebugOutputCapture debug;
    SaveAutostart(8);   // COM2
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(RelayControl.running.load(), 1);
    EXPECT_EQ(Numbers(SplitOutputs), (std::vector<int>{2}));
    EXPECT_EQ(person_.Entries(window, 1007), PortEntries({0, 3, 5, 6, 7, 8, 9}));
    ExpectListsInStep(window);
    const std::vector<std::u16string> lines = debug.Lines();
    const auto started = std::find(lines.begin(), lines.end(), u"ThreadGPSProxy started\n");
    const auto failedProbe = std::find(lines.begin(), lines.end(), u"Fallo ActivateDeviceEx\n");
    ASSERT_NE(failedProbe, lines.end());
    EXPECT_LT(started, failedProbe);
    EXPECT_EQ(debug.Count(u"Fallo ActivateDeviceEx\n"), 1u);
}

TEST_F(AutostartTest, TheSavedOutputsComeBackInOrderRelayingStartsAndTheWindowHides)
{
    SaveAutostart(72);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    ExpectHiddenWithTrayIcon(window);
    EXPECT_EQ(person_.Entries(window, 1006), PortEntries({2, 5}));
    EXPECT_EQ(Numbers(SplitOutputs), (std::vector<int>{2, 5}));
    EXPECT_EQ(person_.Entries(window, 1007), PortEntries({0, 3, 4, 6, 7, 8, 9}));
    ExpectListsInStep(window);
    EXPECT_EQ(RelayControl.running.load(), 1);
    EXPECT_TRUE(input().IsOpen());
    EXPECT_EQ(input().State().BaudRate, 115200u);
    EXPECT_TRUE(PortLinkExists(2));
    EXPECT_TRUE(PortLinkExists(5));
    EXPECT_TRUE(person_.MessageBoxes().empty());

    person_.TapTrayIcon(window, 5000);
    EXPECT_TRUE(person_.Shown(window));
    EXPECT_EQ(person_.Text(window, 1010), u"STOP SPLITTER");
    EXPECT_TRUE(person_.Checked(window, 1017));
}

TEST_F(AutostartTest, AnOutputNowHeldByABuiltInPortIsSkippedAndPortNineComesBack)
{
    AddScriptedBuiltInPort(u"Aux", 5);
    SaveAutostart(72 | 1024);   // outputs 2, 5 and 9
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    ExpectHiddenWithTrayIcon(window);
    EXPECT_EQ(person_.Entries(window, 1006), PortEntries({2, 9}));
    EXPECT_EQ(Numbers(SplitOutputs), (std::vector<int>{2, 9}));
    EXPECT_EQ(RelayControl.running.load(), 1);
    EXPECT_TRUE(PortLinkExists(9));
}

// "Split" is read as every number of the registry is: hex:48 holds 72.
TEST_F(AutostartTest, ASplitOfOneByteRestoresTheOutputsItHolds)
{
    SaveAutostart(std::nullopt);
    WriteValue(HKEY_CURRENT_USER, kSettingsKey, u"Split", REG_BINARY, {72});
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    ExpectHiddenWithTrayIcon(window);
    EXPECT_EQ(Numbers(SplitOutputs), (std::vector<int>{2, 5}));
    EXPECT_EQ(RelayControl.running.load(), 1);
}

// Longer than 4 bytes, it holds no number: nothing is restored.
TEST_F(AutostartTest, ASplitOfFiveBytesRestoresNothing)
{
    SaveAutostart(std::nullopt);
    WriteValue(HKEY_CURRENT_USER, kSettingsKey, u"Split", REG_BINARY, {72, 0, 0, 0, 0});
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    ExpectHiddenWithTrayIcon(window);
    EXPECT_TRUE(SplitOutputs.empty());
    EXPECT_TRUE(RelayControlEmpty());
}

class NothingToRestoreTest : public AutostartTest, public ::testing::WithParamInterface<std::optional<DWORD>> {};

TEST_P(NothingToRestoreTest, NothingStartsAndTheWindowStillHides)
{
    SaveAutostart(GetParam());
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    ExpectHiddenWithTrayIcon(window);
    EXPECT_TRUE(person_.Entries(window, 1006).empty());
    EXPECT_TRUE(RelayControlEmpty());
    EXPECT_FALSE(input().IsOpen());
    EXPECT_TRUE(person_.MessageBoxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Split, NothingToRestoreTest, ::testing::Values(std::optional<DWORD>(0), std::nullopt),
                         [](const auto& named) { return named.param ? std::string("Zero") : std::string("Missing"); });

TEST_F(AutostartTest, WithAutostartOffNothingIsReplayed)
{
    SaveAutostart(72);
    SetUserNumber(u"Autostart", 0);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    EXPECT_TRUE(person_.Shown(window));
    EXPECT_EQ(hiddenToTray, 0u);
    EXPECT_TRUE(SplitOutputs.empty());
    EXPECT_TRUE(RelayControlEmpty());
    EXPECT_EQ(person_.Selection(window, 1002), 0);
    EXPECT_EQ(person_.Text(window, 1002), u"Gps COM1:");
    EXPECT_FALSE(person_.Checked(window, 1017));
}

TEST_F(AutostartTest, ASavedInputPortWhoseNameDoesNotFitLeavesTheBoxAsDiscoveryLeftIt)
{
    SaveAutostart(72, 1234567);   // "COM1234567" and its terminator need eleven places
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    // The start finds neither a chosen entry nor a port name in the box.
    const auto box = person_.WaitForMessageBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, u"Please, choose a serial port from the list or enter manually one COMx");
    EXPECT_EQ(person_.Text(window, 1002), u"");
    EXPECT_EQ(person_.Selection(window, 1002), -1);
    person_.Answer(*box);
    ASSERT_TRUE(person_.WaitUntil([&] { return person_.MessageBoxes().empty(); }));
    platform::input::WaitForIdle(window);

    ExpectHiddenWithTrayIcon(window);
    EXPECT_EQ(Numbers(SplitOutputs), (std::vector<int>{2, 5}));
    EXPECT_TRUE(RelayControlEmpty());
    EXPECT_EQ(AppSettings.inputPort, 1234567);
}

// A file holds the name of COM2's link, so that port cannot be created in
// this run; the fault may pass before the next one.
class OutputThatCannotComeBackTest : public AutostartTest {
protected:
    HWND LaunchWithCom2Blocked()
    {
        std::filesystem::create_directories(device_.portFolder());
        WriteWholeFile(device_.PortLink(2), "not a port");
        SaveAutostart(72);
        const HWND window = Launch();
        EXPECT_EQ(Numbers(SplitOutputs), (std::vector<int>{5}));
        EXPECT_EQ(RelayControl.running.load(), 1);
        return window;
    }
};

TEST_F(OutputThatCannotComeBackTest, StaysSavedWhenThePersonLeavesTheOutputsAlone)
{
    const HWND window = LaunchWithCom2Blocked();
    ASSERT_NE(window, nullptr);
    person_.Close(window);
    ASSERT_EQ(WaitForExit(), 1);
    EXPECT_EQ(UserNumber(u"Split"), 72u);
}

TEST_F(OutputThatCannotComeBackTest, IsDroppedOnceThePersonChoosesTheOutputs)
{
    const HWND window = LaunchWithCom2Blocked();
    ASSERT_NE(window, nullptr);
    person_.TapTrayIcon(window, 5000);
    person_.Click(window, 1010);
    ASSERT_TRUE(person_.WaitUntil([] { return RelayControlEmpty(); }));
    person_.Choose(window, 1006, 0);
    person_.Click(window, 1009);
    person_.Close(window);
    ASSERT_EQ(WaitForExit(), 1);
    EXPECT_EQ(UserNumber(u"Split"), 0u);
}

}  // namespace
