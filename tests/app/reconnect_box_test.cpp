// The Reconnect box as a person uses it: shown from the saved flag in both
// layouts, acting at once (also while relaying runs), saved however the
// program ends, and restored by the start at boot, which then relays through
// a receiver that is away at the start or goes away later.
#include <gtest/gtest.h>

#include "app/tray_and_about.h"
#include "platform/debug_capture.h"
#include "platform/user_input.h"
#include "program_fixture.h"
#include "relay/relay_control.h"
#include "state/app_settings.h"
#include "state/port_lists.h"

namespace {

using namespace tavrel::testing;

constexpr int kReconnect = 1018;
const std::u16string kInputLost = u"Input port lost; trying to open it again every second\n";
const std::u16string kInputBack = u"Input port back; relaying again\n";

class ReconnectBoxTest : public ProgramTest {
protected:
    // The input goes away as an unplugged receiver does: reads fail, and it
    // cannot be opened until PlugBackIn.
    void Unplug()
    {
        input().Fail(SerialCall::Open, ERROR_FILE_NOT_FOUND);
        input().Fail(SerialCall::ReadFile, ERROR_DEVICE_REMOVED);
    }
    void PlugBackIn()
    {
        input().Succeed(SerialCall::ReadFile);
        input().Succeed(SerialCall::Open);
    }
    platform::DebugOutputCapture debug_;
};

struct Screen {
    int width;
    int height;
};

class ReconnectLayoutTest : public ReconnectBoxTest, public ::testing::WithParamInterface<Screen> {};

TEST_P(ReconnectLayoutTest, TheBoxShowsTheSavedFlagAndStaysUsableWhileRelaying)
{
    person_.SetScreenSize(GetParam().width, GetParam().height);
    SetUserNumber(u"Reconnect", 1);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(person_.Text(window, kReconnect), u"Reconnect");
    EXPECT_TRUE(person_.Checked(window, kReconnect));

    AddOutputs(window, {2});
    ASSERT_TRUE(StartRelaying(window));
    EXPECT_TRUE(person_.Enabled(window, kReconnect));
    person_.Click(window, kReconnect);
    EXPECT_FALSE(person_.Checked(window, kReconnect));
    EXPECT_EQ(AppSettings.reconnect.load(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Screens, ReconnectLayoutTest,
                         ::testing::Values(Screen{240, 320}, Screen{320, 240}),
                         [](const auto& named) {
                             return std::to_string(named.param.width) + "x" + std::to_string(named.param.height);
                         });

// Reconnect stored by tavrel-config while the window is up: told over the
// status socket, it is shown at once, and the person's later click is the
// change that Exit saves.
TEST_F(ReconnectBoxTest, AChangeThatTavrelConfigTellsIsShownAndALaterClickWins)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    SetUserNumber(u"Reconnect", 1);
    EXPECT_TRUE(TellOfStoredSetting("Reconnect"));
    ASSERT_TRUE(person_.WaitUntil([&] { return person_.Checked(window, kReconnect); }));
    person_.Click(window, kReconnect);
    person_.Click(window, 2);
    EXPECT_EQ(WaitForExit(), 1);
    EXPECT_EQ(UserNumber(u"Reconnect"), 0u);
}

TEST_F(ReconnectBoxTest, AFirstRunShowsItClearAndExitSavesATick)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(person_.Checked(window, kReconnect));
    person_.Click(window, kReconnect);
    person_.Click(window, 2);
    EXPECT_EQ(WaitForExit(), 1);
    EXPECT_EQ(UserNumber(u"Reconnect"), 1u);
}

// Unlike Autostart, whose tick only Exit takes, the box acts when it is
// clicked, so closing the window saves what it shows.
TEST_F(ReconnectBoxTest, CloseSavesTheBoxAsItWasLeft)
{
    SetUserNumber(u"Reconnect", 1);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    person_.Click(window, kReconnect);
    person_.Close(window);
    EXPECT_EQ(WaitForExit(), 1);
    EXPECT_EQ(UserNumber(u"Reconnect"), 0u);
}

TEST_F(ReconnectBoxTest, TickedWhileRelayingARunOutlivesAnUnpluggedInput)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2});
    ASSERT_TRUE(StartRelaying(window));
    person_.Click(window, kReconnect);

    Unplug();
    ASSERT_TRUE(person_.WaitUntil([&] { return debug_.Count(kInputLost) == 1; }));
    EXPECT_TRUE(person_.MessageBoxes().empty());
    EXPECT_EQ(RelayControl.running.load(), 1);
    EXPECT_TRUE(PortLinkExists(2));
    EXPECT_EQ(person_.Text(window, 1010), u"STOP SPLITTER");

    PlugBackIn();
    ASSERT_TRUE(person_.WaitUntil([&] { return debug_.Count(kInputBack) == 1; }));
    EXPECT_TRUE(input().IsOpen());
    EXPECT_TRUE(Relays(2));
    person_.Click(window, 1010);
    EXPECT_TRUE(RelayControlEmpty());
    EXPECT_FALSE(PortLinkExists(2));
}

// The unattended start: Autostart and Reconnect on, the receiver unplugged.
TEST_F(ReconnectBoxTest, TheStartAtBootRestoresItAndWaitsForAnInputThatIsAway)
{
    SetUserNumber(u"Autostart", 1);
    SetUserNumber(u"Reconnect", 1);
    SetUserNumber(u"Port", kInputPort);
    SetUserNumber(u"Baud", 12);
    SetUserNumber(u"Split", 72);
    Unplug();
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    EXPECT_FALSE(person_.Shown(window));
    EXPECT_TRUE(person_.MessageBoxes().empty());
    EXPECT_EQ(RelayControl.running.load(), 1);
    EXPECT_TRUE(PortLinkExists(2));
    EXPECT_TRUE(PortLinkExists(5));
    EXPECT_FALSE(input().IsOpen());

    PlugBackIn();
    ASSERT_TRUE(person_.WaitUntil([&] { return debug_.Count(kInputBack) == 1; }));
    EXPECT_TRUE(Relays(5));
    person_.TapTrayIcon(window, 5000);
    EXPECT_TRUE(person_.Checked(window, kReconnect));
    EXPECT_TRUE(person_.Checked(window, 1017));
}

}  // namespace
