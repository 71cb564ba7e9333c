// The main window as a person uses it: outputs moved between the two lists,
// the input port chosen or typed, the baud rates, relaying started and stopped, the program
// ended with Exit or closed, the layout by the screen's shape, the tray icon
// and the About box.
#include <algorithm>
#include <chrono>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/tray_and_about.h"
#include "platform/debug_capture.h"
#include "platform/devices.h"
#include "platform/idle_timer.h"
#include "platform/quotas.h"
#include "platform/strings.h"
#include "platform/timer_clock.h"
#include "platform/user.h"
#include "platform/user_input.h"
#include "program_fixture.h"
#include "relay/relay_control.h"
#include "relay/relay_health.h"
#include "relay/relay_worker.h"
#include "resources/resource_ids.h"
#include "state/app_settings.h"
#include "state/port_lists.h"
#include "testkit/pty_pair.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

const std::u16string kChoosePortMessage = u"Please, choose a serial port from the list or enter manually one COMx";

class MainWindowTest : public ProgramTest {
protected:
    void ExpectSettingControls(HWND dialog, bool enabled) const
    {
        for (int id : kSettingControls) {
            EXPECT_EQ(person_.Enabled(dialog, id), enabled) << "control " << id;
        }
    }

    // Relays to output 2 until a read of the input fails; the worker's box.
    std::optional<UserDriver::MessageBox> RelayUntilAReadFails(HWND dialog)
    {
        AddOutputs(dialog, {2});
        if (!StartRelaying(dialog)) {
            ADD_FAILURE() << "relaying did not start";
            return std::nullopt;
        }
        input().Fail(SerialCall::ReadFile, ERROR_GEN_FAILURE);
        return person_.WaitForMessageBox();
    }

    void AnswerAndSettle(HWND dialog, const UserDriver::MessageBox& box) const
    {
        person_.Answer(box);
        EXPECT_TRUE(person_.WaitUntil([&] { return person_.MessageBoxes().empty(); }));
        platform::input::WaitForIdle(dialog);
    }

    // Lets `elapsed` pass on the timers' clock and waits until the thread of
    // `window` has fired the timers that came due.
    static void Pass(platform::HeldTimerClock& clock, std::chrono::milliseconds elapsed, HWND window)
    {
        clock.Advance(elapsed);
        EXPECT_TRUE(platform::input::WaitForIdle(window));
    }
    // Lets `elapsed` pass on a box that is due to close itself then: the box is
    // waited for to go, not to be idle, since it may be gone before it is looked at.
    bool PassUntilClosed(platform::HeldTimerClock& clock, std::chrono::milliseconds elapsed, const char16_t* caption)
    {
        clock.Advance(elapsed);
        return person_.WaitForNoWindow(caption, 5s);
    }
    // The idle timer's resets since the program started, once `elapsed` has passed.
    std::size_t IdleResetsAfter(platform::HeldTimerClock& clock, std::chrono::milliseconds elapsed, HWND window) const
    {
        Pass(clock, elapsed, window);
        return platform::SystemIdleTimerResets() - resetsAtStart_;
    }

    const std::size_t resetsAtStart_ = platform::SystemIdleTimerResets();
};

// ---- Outputs

TEST_F(MainWindowTest, AddMovesTheChosenFreePortToTheEndOfTheOutputs)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(person_.Entries(window, IDC_FREE_OUTPUTS), PortEntries({0, 2, 3, 4, 5, 6, 7, 8, 9}));
    ExpectListsInStep(window);

    person_.Click(window, IDC_ADD);   // nothing chosen: nothing moves
    EXPECT_TRUE(SplitOutputs.empty());
    EXPECT_EQ(FreeOutputs.size(), 9u);

    AddOutputs(window, {5});
    person_.Choose(window, IDC_FREE_OUTPUTS, 2);   // COM3:
    ASSERT_EQ(person_.Text(window, IDC_FREE_OUTPUTS), u"COM3:");
    person_.Click(window, IDC_ADD);

    EXPECT_EQ(person_.Entries(window, IDC_FREE_OUTPUTS), PortEntries({0, 2, 4, 6, 7, 8, 9}));
    EXPECT_EQ(person_.Text(window, IDC_FREE_OUTPUTS), u"");
    EXPECT_EQ(person_.Selection(window, IDC_FREE_OUTPUTS), -1);
    EXPECT_EQ(person_.Entries(window, IDC_OUTPUT_LIST), PortEntries({5, 3}));
    EXPECT_EQ(Numbers(SplitOutputs), (std::vector<int>{5, 3}));
    EXPECT_EQ(std::count(FreeOutputs.begin(), FreeOutputs.end(), 3), 0);
    ExpectListsInStep(window);
}

TEST_F(MainWindowTest, DeleteOfTheMiddleOutputAppendsItToTheFreePorts)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2, 4, 6});
    person_.Click(window, IDC_DELETE);   // nothing chosen: nothing moves
    EXPECT_EQ(Numbers(SplitOutputs), (std::vector<int>{2, 4, 6}));

    person_.Choose(window, IDC_OUTPUT_LIST, 1);
    person_.Click(window, IDC_DELETE);

    EXPECT_EQ(person_.Entries(window, IDC_OUTPUT_LIST), PortEntries({2, 6}));
    EXPECT_EQ(Numbers(SplitOutputs), (std::vector<int>{2, 6}));
    EXPECT_EQ(person_.Entries(window, IDC_FREE_OUTPUTS), PortEntries({0, 3, 5, 7, 8, 9, 4}));
    EXPECT_EQ(Numbers(FreeOutputs), (std::vector<int>{0, 3, 5, 7, 8, 9, 4}));
    ExpectListsInStep(window);
}

// With the gpsd hand-off on, the output that gpsd gets says so, also when
// the first output, which it is by default, changes.
TEST_F(MainWindowTest, TheOutputThatGpsdGetsIsMarkedInTheOutputs)
{
    SetUserNumber(u"GpsdHandoff", 1);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {3, 6});
    EXPECT_EQ(person_.Entries(window, IDC_OUTPUT_LIST), (std::vector<std::u16string>{u"COM3: gpsd", u"COM6:"}));

    person_.Choose(window, IDC_OUTPUT_LIST, 0);
    person_.Click(window, IDC_DELETE);
    EXPECT_EQ(person_.Entries(window, IDC_OUTPUT_LIST), (std::vector<std::u16string>{u"COM6: gpsd"}));
    EXPECT_EQ(Numbers(SplitOutputs), (std::vector<int>{6}));
}

TEST_F(MainWindowTest, ADeletedPortComesBackAfterTheScannedOnes)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2});
    person_.Choose(window, IDC_OUTPUT_LIST, 0);
    person_.Click(window, IDC_DELETE);
    AddOutputs(window, {5});

    EXPECT_EQ(person_.Entries(window, IDC_FREE_OUTPUTS), PortEntries({0, 3, 4, 6, 7, 8, 9, 2}));
    EXPECT_EQ(person_.Entries(window, IDC_OUTPUT_LIST), PortEntries({5}));
    ExpectListsInStep(window);
}

TEST_F(MainWindowTest, AddOfAPortThatCannotBeCreatedNowMovesNothing)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    // Another device takes COM7 after the scan offered it.
    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\Other", 7);
    ASSERT_NE(ActivateDeviceEx(u"Drivers\\Other", nullptr, 0, nullptr), nullptr);
    platform::DebugOutputCapture debug;

    AddOutputs(window, {7});

    EXPECT_EQ(debug.Count(u"Fallo ActivateDeviceEx\n"), 1u);
    EXPECT_EQ(person_.Entries(window, IDC_FREE_OUTPUTS), PortEntries({0, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_TRUE(person_.Entries(window, IDC_OUTPUT_LIST).empty());
    ExpectListsInStep(window);
}

// ---- The input port and the refusals of Start

TEST_F(MainWindowTest, TypedInputPortTextsAreTakenOrRefusedWithAMessage)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(person_.Selection(window, IDC_INPUT_PORT), 0);   // the saved port 1 is the scripted COM1
    // No output is chosen, so each press takes the input port and starts nothing.
    struct Case {
        std::u16string typed;
        int port;        // the input port afterwards
        bool refused;    // the message instead
    };
    const Case cases[] = {
        {u"COM4", 4, false},       {u"com7", 7, false},   {u"COM 3", 3, false},   {u"COM5:", 5, false},
        {u"COM12", 5, false},      {u"COM-1", 5, false},  {u"COM9", 9, false},
        {u"COM0000006", 0, false},   // ten characters: "COM000000" is read
        {u"COM6", 6, false},       {u"", 6, true},        {u" COM4", 6, true},    {u"PORT4", 6, true},
        {u"COM", 6, true},         {u"COMx", 6, true},
        {u"COM      4", 6, true},    // the digit is the tenth character and is cut off
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.typed.begin(), c.typed.end()));
        person_.Type(window, IDC_INPUT_PORT, c.typed);
        ASSERT_EQ(person_.Selection(window, IDC_INPUT_PORT), -1);
        person_.Click(window, IDC_START_STOP);
        const auto boxes = person_.MessageBoxes();
        if (c.refused) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, kChoosePortMessage);
            EXPECT_EQ(boxes[0].caption, u"Tavrel");
            EXPECT_EQ(boxes[0].type, 48u);
            EXPECT_EQ(boxes[0].owner, nullptr);
            AnswerAndSettle(window, boxes[0]);
        } else {
            EXPECT_TRUE(boxes.empty());
        }
        EXPECT_EQ(AppSettings.inputPort, c.port);
        EXPECT_EQ(RelayControl.running.load(), 0);
    }
    // A chosen entry gives its port's number, whatever the text said before.
    person_.Choose(window, IDC_INPUT_PORT, 0);
    person_.Click(window, IDC_START_STOP);
    EXPECT_EQ(AppSettings.inputPort, 1);
}

TEST_F(MainWindowTest, StartWithoutBaudOrOutputsStartsNothingButTakesTheInputPort)
{
    SetUserNumber(u"Baud", 15);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(person_.Selection(window, IDC_BAUD), -1);

    AddOutputs(window, {2});
    person_.Type(window, IDC_INPUT_PORT, u"COM3");
    person_.Click(window, IDC_START_STOP);
    EXPECT_EQ(AppSettings.inputPort, 3);
    EXPECT_EQ(AppSettings.baudIndex, 15);

    person_.Choose(window, IDC_BAUD, 6);
    person_.Choose(window, IDC_OUTPUT_LIST, 0);
    person_.Click(window, IDC_DELETE);
    person_.Type(window, IDC_INPUT_PORT, u"COM4");
    person_.Click(window, IDC_START_STOP);
    EXPECT_EQ(AppSettings.inputPort, 4);
    EXPECT_EQ(AppSettings.baudIndex, 6);

    EXPECT_TRUE(person_.MessageBoxes().empty());
    EXPECT_TRUE(RelayControlEmpty());
    EXPECT_FALSE(PortLinkExists(2));
    EXPECT_EQ(person_.Text(window, IDC_START_STOP), u"START SPLITTER");
    ExpectSettingControls(window, true);

    person_.Click(window, IDC_EXIT);
    EXPECT_EQ(WaitForExit(), 1);
    EXPECT_EQ(UserNumber(u"Port"), 4u);
    EXPECT_EQ(UserNumber(u"Baud"), 6u);
}

// ---- Baud rates

std::u16string Decimal(DWORD number)
{
    std::u16string text;
    for (char digit : std::to_string(number)) {
        text += static_cast<char16_t>(digit);
    }
    return text;
}

TEST_F(MainWindowTest, EachBaudEntryShowsTheRateThatTheWorkerSetsForItsIndex)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);

    const auto entries = person_.Entries(window, IDC_BAUD);
    EXPECT_EQ(entries, (std::vector<std::u16string>{u"110", u"300", u"600", u"1200", u"2400", u"4800", u"9600",
                                                     u"14400", u"19200", u"38400", u"56000", u"57600", u"115200",
                                                     u"128000", u"256000"}));
    for (std::size_t index = 0; index < entries.size(); ++index) {
        EXPECT_EQ(entries[index], Decimal(BaudRateOf(static_cast<BaudIndex>(index)))) << "entry " << index;
    }

    // The entry a person picks is the rate the input runs at.
    AddOutputs(window, {2});
    person_.Choose(window, IDC_BAUD, 7);
    ASSERT_TRUE(StartRelaying(window));
    EXPECT_EQ(input().State().BaudRate, 14400u);
    person_.Click(window, IDC_START_STOP);
    EXPECT_TRUE(RelayControlEmpty());
}

// ---- Relaying

TEST_F(MainWindowTest, AStartWhoseInputCannotBeOpenedShowsTheWorkersMessageAndKeepsTheButtonText)
{
    platform::HeldTimerClock clock;
    person_.SetScreenSize(320, 240);   // landscape: the button reads "START"
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2, 5});
    person_.Type(window, IDC_INPUT_PORT, u"COM3");   // no device has that number

    PressWithoutWaiting(window, IDC_START_STOP);
    const auto box = person_.WaitForMessageBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, u"Unable to open input port");
    EXPECT_EQ(box->caption, u"Tavrel");
    EXPECT_EQ(box->type, 48u);
    EXPECT_EQ(box->owner, nullptr);
    EXPECT_FALSE(person_.Enabled(window, IDC_START_STOP));
    ExpectSettingControls(window, false);

    person_.Answer(*box);
    ASSERT_TRUE(person_.WaitUntil([&] { return person_.Enabled(window, IDC_START_STOP); }));
    platform::input::WaitForIdle(window);
    EXPECT_EQ(person_.Text(window, IDC_START_STOP), u"START");
    ExpectSettingControls(window, true);
    EXPECT_TRUE(RelayControlEmpty());
    EXPECT_FALSE(PortLinkExists(2));
    EXPECT_FALSE(PortLinkExists(5));
    EXPECT_EQ(person_.Entries(window, IDC_OUTPUT_LIST), PortEntries({2, 5}));
    EXPECT_EQ(IdleResetsAfter(clock, 60s, window), 0u);   // no keep-awake timer was armed
}

TEST_F(MainWindowTest, StartStopStartStopRelaysEachTimeAndLeavesNothingBehind)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2, 5});
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(StartRelaying(window));
        platform::input::WaitForIdle(window);
        EXPECT_NE(RelayControl.stopEvent.get(), nullptr);
        EXPECT_NE(RelayControl.workerThread.get(), nullptr);
        EXPECT_NE(RelayControl.keepAwakeTimer.get(), 0u);
        EXPECT_EQ(RelayControl.startedEvent.get(), nullptr);
        EXPECT_EQ(RelayControl.stopAckEvent.get(), nullptr);
        EXPECT_TRUE(input().IsOpen());
        EXPECT_TRUE(Relays(2));
        EXPECT_TRUE(Relays(5));
        // While relaying only About, Autostart and Start/Stop can be used.
        ExpectSettingControls(window, false);
        EXPECT_TRUE(person_.Enabled(window, IDC_START_STOP));
        EXPECT_TRUE(person_.Enabled(window, IDC_ABOUT));
        EXPECT_TRUE(person_.Enabled(window, IDC_AUTOSTART));

        person_.Click(window, IDC_START_STOP);
        EXPECT_TRUE(RelayControlEmpty());
        EXPECT_EQ(person_.Text(window, IDC_START_STOP), u"START SPLITTER");
        ExpectSettingControls(window, true);
        EXPECT_FALSE(input().IsOpen());
        EXPECT_FALSE(PortLinkExists(2));
        EXPECT_FALSE(PortLinkExists(5));
    }
}

TEST_F(MainWindowTest, WhileRelayingTheIdleTimerIsResetEveryTwentySecondsAndNotAfterTheStop)
{
    platform::HeldTimerClock clock;
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2});
    EXPECT_EQ(IdleResetsAfter(clock, 60s, window), 0u);   // not before relaying starts
    ASSERT_TRUE(StartRelaying(window));
    platform::input::WaitForIdle(window);

    EXPECT_EQ(IdleResetsAfter(clock, 19999ms, window), 0u);
    EXPECT_EQ(IdleResetsAfter(clock, 1ms, window), 1u);
    EXPECT_EQ(IdleResetsAfter(clock, 19999ms, window), 1u);
    EXPECT_EQ(IdleResetsAfter(clock, 1ms, window), 2u);

    person_.Click(window, IDC_START_STOP);
    EXPECT_TRUE(RelayControlEmpty());
    EXPECT_EQ(IdleResetsAfter(clock, 60s, window), 2u);
}

TEST_F(MainWindowTest, AfterAReadFailureTheWindowReturnsToItsIdleLookOnceTheBoxIsAnswered)
{
    platform::HeldTimerClock clock;
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    const auto box = RelayUntilAReadFails(window);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, u"Error reading data from the input port");
    // Until the box is answered the run is still up, as it looks.
    platform::input::WaitForIdle(window);
    EXPECT_EQ(person_.Text(window, IDC_START_STOP), u"STOP SPLITTER");
    ExpectSettingControls(window, false);

    person_.Answer(*box);
    ASSERT_TRUE(person_.WaitUntil([&] { return person_.Text(window, IDC_START_STOP) == u"START SPLITTER"; }));
    platform::input::WaitForIdle(window);
    EXPECT_TRUE(person_.Enabled(window, IDC_START_STOP));
    ExpectSettingControls(window, true);   // Exit included
    EXPECT_TRUE(RelayControlEmpty());      // the timer killed, the run's handles released
    EXPECT_FALSE(input().IsOpen());
    EXPECT_FALSE(PortLinkExists(2));
    EXPECT_EQ(IdleResetsAfter(clock, 60s, window), 0u);

    // The button does what it says: it starts a run.
    input().Succeed(SerialCall::ReadFile);
    ASSERT_TRUE(StartRelaying(window));
    EXPECT_TRUE(Relays(2));
    EXPECT_EQ(IdleResetsAfter(clock, 20s, window), 1u);
    person_.Click(window, IDC_START_STOP);
    EXPECT_TRUE(RelayControlEmpty());
    EXPECT_EQ(person_.Text(window, IDC_START_STOP), u"START SPLITTER");
}

TEST_F(MainWindowTest, AStopWhileTheWorkerReportsAFailureEndsWhenTheWorkerHasEnded)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    const auto box = RelayUntilAReadFails(window);
    ASSERT_TRUE(box.has_value());
    // The worker waits for its box, so it acknowledges no stop: Stop must
    // also end when the worker's thread does.
    PressWithoutWaiting(window, IDC_START_STOP);
    // The stop clears the running flag before it waits; the failing worker
    // clears it only once its box is answered. So this is the stop waiting.
    ASSERT_TRUE(person_.WaitUntil([] { return RelayControl.running == 0; }));
    person_.Answer(*box);
    ASSERT_TRUE(person_.WaitUntil([&] { return person_.Text(window, IDC_START_STOP) == u"START SPLITTER"; }));
    platform::input::WaitForIdle(window);
    EXPECT_TRUE(RelayControlEmpty());
    ExpectSettingControls(window, true);
    EXPECT_FALSE(PortLinkExists(2));
}

// A start that cannot get its events, its worker or its timer says so, leaves
// nothing half-made, and the next start works.
class StartFailureTest : public MainWindowTest, public ::testing::WithParamInterface<const char*> {
protected:
    void Limit()
    {
        const std::string what = GetParam();
        if (what == "timer") {
            platform::SetTimerQuota(0);
        } else {
            // Room for the stop event only, or for both events but not the worker.
            platform::SetHandleQuota(platform::OpenHandleCount() + (what == "event" ? 1 : 2));
        }
    }
    static void Lift()
    {
        platform::SetHandleQuota(platform::kDefaultHandleQuota);
        platform::SetTimerQuota(platform::kDefaultTimerQuota);
    }
    ~StartFailureTest() override { Lift(); }
};

TEST_P(StartFailureTest, IsReportedAndLeavesNothingBehind)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2, 5});
    platform::input::WaitForIdle(window);
    Limit();

    PressWithoutWaiting(window, IDC_START_STOP);
    const auto box = person_.WaitForMessageBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, u"Unable to start the splitter:\nthe system is out of resources");
    EXPECT_EQ(box->caption, u"Tavrel");
    AnswerAndSettle(window, *box);
    Lift();
    EXPECT_TRUE(RelayControlEmpty());
    EXPECT_EQ(person_.Text(window, IDC_START_STOP), u"START SPLITTER");
    EXPECT_TRUE(person_.Enabled(window, IDC_START_STOP));
    ExpectSettingControls(window, true);
    EXPECT_FALSE(input().IsOpen());
    EXPECT_FALSE(PortLinkExists(2));
    EXPECT_FALSE(PortLinkExists(5));

    ASSERT_TRUE(StartRelaying(window));
    EXPECT_TRUE(Relays(5));
}

INSTANTIATE_TEST_SUITE_P(Resources, StartFailureTest, ::testing::Values("event", "thread", "timer"));

// ---- Ending the program

TEST_F(MainWindowTest, ExitTakesTheAutostartTickAndRemovesTheTrayIcon)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(person_.Checked(window, IDC_AUTOSTART));
    EXPECT_EQ(platform::input::TrayIcons().size(), 1u);

    person_.Click(window, IDC_AUTOSTART);
    person_.Click(window, IDC_EXIT);

    EXPECT_EQ(WaitForExit(), 1);
    EXPECT_EQ(AppSettings.autostart, 1u);
    EXPECT_EQ(UserNumber(u"Autostart"), 1u);
    EXPECT_TRUE(platform::input::TrayIcons().empty());
}

TEST_F(MainWindowTest, CloseLeavesTheAutostartFlagAsLoadedAndRemovesTheTrayIcon)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    person_.Click(window, IDC_AUTOSTART);
    ASSERT_TRUE(person_.Checked(window, IDC_AUTOSTART));

    person_.Close(window);

    EXPECT_EQ(WaitForExit(), 1);
    EXPECT_EQ(AppSettings.autostart, 0u);
    EXPECT_EQ(UserNumber(u"Autostart").value_or(0), 0u);   // off, as it was: nothing written over it
    EXPECT_TRUE(platform::input::TrayIcons().empty());
}

TEST_F(MainWindowTest, CloseWhileRelayingStopsTheRelayBeforeTheProgramEnds)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2, 5});
    ASSERT_TRUE(StartRelaying(window));

    person_.Close(window);

    ASSERT_EQ(WaitForExit(), 1);
    EXPECT_FALSE(PortLinkExists(2));
    EXPECT_FALSE(PortLinkExists(5));
    EXPECT_FALSE(input().IsOpen());
    EXPECT_TRUE(RelayControlEmpty());
    EXPECT_EQ(UserNumber(u"Split"), 72u);
}

// ---- Input panel and layout

TEST_F(MainWindowTest, TheInputPanelComesUpInTheInputPortBoxAndGoesDownOutsideIt)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    person_.Focus(window, IDC_BAUD);
    EXPECT_FALSE(platform::input::InputPanelUp());
    person_.Focus(window, IDC_INPUT_PORT);
    EXPECT_TRUE(platform::input::InputPanelUp());
    person_.Focus(window, IDC_OUTPUT_LIST);
    EXPECT_FALSE(platform::input::InputPanelUp());
}

struct Layout {
    int width;
    int height;
    std::u16string startText;
    RECT startPlace;   // dialog units: left, top, right, bottom
};

class LayoutTest : public MainWindowTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(LayoutTest, TheScreenShapeChoosesTheTemplate)
{
    const Layout& layout = GetParam();
    person_.SetScreenSize(layout.width, layout.height);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(person_.Text(window, IDC_START_STOP), layout.startText);
    const RECT place = person_.State(window, IDC_START_STOP).templatePlace;
    EXPECT_EQ(place.left, layout.startPlace.left);
    EXPECT_EQ(place.top, layout.startPlace.top);
    EXPECT_EQ(place.right, layout.startPlace.right);
    EXPECT_EQ(place.bottom, layout.startPlace.bottom);
}

INSTANTIATE_TEST_SUITE_P(Screens, LayoutTest,
                         ::testing::Values(Layout{240, 320, u"START SPLITTER", {101, 62, 145, 106}},
                                           Layout{320, 240, u"START", {98, 59, 164, 73}},
                                           Layout{480, 480, u"START", {98, 59, 164, 73}}),
                         [](const auto& named) {
                             return std::to_string(named.param.width) + "x" + std::to_string(named.param.height);
                         });

TEST_F(MainWindowTest, TheLandscapeButtonReadsStartUntilTheFirstStop)
{
    person_.SetScreenSize(320, 240);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2});
    EXPECT_EQ(person_.Text(window, IDC_START_STOP), u"START");
    ASSERT_TRUE(StartRelaying(window));
    person_.Click(window, IDC_START_STOP);
    EXPECT_EQ(person_.Text(window, IDC_START_STOP), u"START SPLITTER");
}

// ---- Tray icon

TEST_F(MainWindowTest, OkHidesToTheTrayAndOnlyAPenDownOnTheIconBringsTheWindowBack)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    const auto icons = platform::input::TrayIcons();
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0].owner, window);
    EXPECT_EQ(icons[0].id, 5000u);
    EXPECT_EQ(icons[0].callbackMessage, 3025u);
    EXPECT_EQ(icons[0].icon, LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(103)));
    // The tooltip is the relay's summary from the start (the relay tells the window when it changes).
    EXPECT_EQ(icons[0].tip, platform::ToUtf16(RelaySummary(TakeRelayHealth())));

    person_.PressCaptionOk(window);
    EXPECT_FALSE(person_.Shown(window));
    EXPECT_EQ(hiddenToTray, 1u);
    EXPECT_EQ(platform::input::TrayIcons().size(), 1u);
    person_.PressCaptionOk(window);   // hidden already: stays hidden
    EXPECT_FALSE(person_.Shown(window));
    EXPECT_EQ(hiddenToTray, 1u);

    // Another icon's tap, the pen going up, a double tap: nothing comes back.
    PostMessageW(window, 3025, 4999, WM_LBUTTONDOWN);
    PostMessageW(window, 3025, 5000, WM_LBUTTONUP);
    PostMessageW(window, 3025, 5000, WM_LBUTTONDBLCLK);
    platform::input::WaitForIdle(window);
    EXPECT_FALSE(person_.Shown(window));
    EXPECT_EQ(hiddenToTray, 1u);

    person_.TapTrayIcon(window, 5000);
    EXPECT_TRUE(person_.Shown(window));
    EXPECT_EQ(person_.Foreground(), window);
    EXPECT_EQ(hiddenToTray, 0u);
}

// ---- About box

// The text window that the About box owns: place and text.
std::optional<platform::input::WindowState> AboutText(HWND box)
{
    const auto owned = OwnedWindows(box);
    if (owned.size() != 1) {
        return std::nullopt;
    }
    return platform::input::Inspect(owned[0]);
}

void ExpectPlace(const RECT& place, LONG x, LONG y, LONG width, LONG height)
{
    EXPECT_EQ(place.left, x);
    EXPECT_EQ(place.top, y);
    EXPECT_EQ(place.right - place.left, width);
    EXPECT_EQ(place.bottom - place.top, height);
}

bool StillOpen(HWND box)
{
    const auto state = platform::input::Inspect(box);
    return state.has_value() && state->shown;
}

TEST_F(MainWindowTest, TheAboutBoxClosesItselfAndPlacesItsTextForAPortraitScreen)
{
    platform::HeldTimerClock clock;
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    person_.Click(window, IDC_ABOUT);
    const HWND box = person_.WaitForWindow(u"About Tavrel");
    ASSERT_NE(box, nullptr);
    const auto text = AboutText(box);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->className, u"STATIC");
    EXPECT_NE(text->text.find(u"FREE"), std::u16string::npos);
    ExpectPlace(text->place, 25, 50, 200, 200);

    Pass(clock, 4999ms, box);
    EXPECT_TRUE(StillOpen(box));
    EXPECT_TRUE(PassUntilClosed(clock, 1ms, u"About Tavrel"));
    EXPECT_TRUE(person_.Shown(window));
    EXPECT_FALSE(program_->Ended());
}

TEST_F(MainWindowTest, ASecondAboutBoxOpenedRightAfterTheFirstGetsItsFullTime)
{
    platform::HeldTimerClock clock;
    person_.SetScreenSize(320, 240);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    person_.Click(window, IDC_ABOUT);
    const HWND first = person_.WaitForWindow(u"About Tavrel");
    ASSERT_NE(first, nullptr);
    const auto text = AboutText(first);
    ASSERT_TRUE(text.has_value());
    ExpectPlace(text->place, 10, 10, 200, 210);

    Pass(clock, 1000ms, first);
    person_.PressCaptionOk(first);   // the Done button
    ASSERT_TRUE(person_.WaitForNoWindow(u"About Tavrel", 2s));
    person_.Click(window, IDC_ABOUT);
    const HWND second = person_.WaitForWindow(u"About Tavrel");
    ASSERT_NE(second, nullptr);

    // Past the moment at which the first box would have closed by itself.
    Pass(clock, 4999ms, second);
    EXPECT_TRUE(StillOpen(second));
    EXPECT_TRUE(PassUntilClosed(clock, 1ms, u"About Tavrel"));
}

TEST_F(MainWindowTest, AnAboutBoxThatCannotMakeItsTextWindowClosesAndTheProgramGoesOn)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    platform::input::WaitForIdle(window);
    const std::size_t before = platform::WindowCount();
    person_.Click(window, IDC_ABOUT);
    const HWND box = person_.WaitForWindow(u"About Tavrel");
    ASSERT_NE(box, nullptr);
    const std::size_t withBox = platform::WindowCount();
    person_.PressCaptionOk(box);
    ASSERT_TRUE(person_.WaitForNoWindow(u"About Tavrel", 5s));

    // Room for the box and its controls, none for its text window.
    platform::SetWindowQuota(before + (withBox - before - 1));
    person_.Click(window, IDC_ABOUT);
    platform::input::WaitForIdle(window);
    platform::SetWindowQuota(platform::kDefaultWindowQuota);
    EXPECT_TRUE(person_.WaitForNoWindow(u"About Tavrel", 0ms));
    EXPECT_FALSE(program_->Ended());
    EXPECT_TRUE(person_.Shown(window));
    EXPECT_TRUE(person_.Enabled(window, IDC_ABOUT));

    person_.Click(window, IDC_ABOUT);
    EXPECT_NE(person_.WaitForWindow(u"About Tavrel"), nullptr);
}

}  // namespace
