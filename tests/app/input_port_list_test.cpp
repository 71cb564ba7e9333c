// The Port box follows the host's serial devices while the program runs, as
// a person sees it: a receiver plugged into a made-up host shows up by its
// name, one pulled out leaves unless it is the chosen one, a typed port
// stays, and a new port's number leaves the outputs that could no longer be
// made, but never the ones that relay.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/user_input.h"
#include "program_fixture.h"
#include "relay/relay_control.h"
#include "state/port_lists.h"
#include "support/fake_host_tree.h"

namespace tavrel::testing {
namespace {

const std::u16string kGps = u"Gps COM1:";   // the scripted input, a key that a person made
const std::u16string kReceiverName = u"u-blox GNSS receiver";
const UsbReceiver kReceiver{"ttyACM0", "u-blox GNSS receiver", "usb-u-blox_AG_GNSS_receiver-if00"};
const UsbReceiver kAdapter{"ttyUSB0", "FT232R USB UART", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"};

// Made before the program's device, so that it outlives the device's watch of it.
struct MadeUpHost {
    FakeHostTree host_;
};

class InputPortListTest : public MadeUpHost, public ProgramTest {
protected:
    InputPortListTest() { device_.FollowHost(host_.dev(), host_.sys()); }

    // Waits until the Port box lists exactly `entries` and the window's
    // thread has done all it does after a device came or went.
    bool WaitForPorts(HWND window, const std::vector<std::u16string>& entries) const
    {
        return person_.WaitUntil([&] { return person_.Entries(window, 1002) == entries; }) &&
               platform::input::WaitForIdle(window);
    }

    static bool IsFree(int number) { return std::count(FreeOutputs.begin(), FreeOutputs.end(), number) != 0; }
};

TEST_F(InputPortListTest, APluggedInReceiverIsListedByNameAndLeavesWhenPulledOutWhileAnotherIsChosen)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(person_.Entries(window, 1002), std::vector<std::u16string>{kGps});
    ASSERT_EQ(person_.Selection(window, 1002), 0);
    ASSERT_TRUE(IsFree(2));

    host_.PlugIn(kReceiver);
    ASSERT_TRUE(WaitForPorts(window, {kGps, kReceiverName}));
    EXPECT_EQ(Numbers(DetectedPorts), (std::vector<int>{1, 2}));
    EXPECT_EQ(person_.Selection(window, 1002), 0);
    EXPECT_EQ(person_.Text(window, 1002), kGps);
    // A built-in driver owns COM2 now.
    EXPECT_EQ(person_.Entries(window, 1007), PortEntries({0, 3, 4, 5, 6, 7, 8, 9}));
    ExpectListsInStep(window);

    host_.PullOut(kReceiver);
    ASSERT_TRUE(WaitForPorts(window, {kGps}));
    EXPECT_EQ(Numbers(DetectedPorts), std::vector<int>{1});
    EXPECT_EQ(person_.Selection(window, 1002), 0);
    // Its number stays the receiver's, for when it comes back.
    EXPECT_FALSE(IsFree(2));
    ExpectListsInStep(window);
}

TEST_F(InputPortListTest, AChosenReceiverThatGoesKeepsItsEntryUntilAnotherIsChosen)
{
    host_.PlugIn(kReceiver);   // before the start, or just after: either way it is listed
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForPorts(window, {kGps, kReceiverName}));
    person_.Choose(window, 1002, 1);

    host_.PullOut(kReceiver);
    host_.PlugIn(kAdapter);
    ASSERT_TRUE(WaitForPorts(window, {kGps, kReceiverName, u"FT232R USB UART"}));
    EXPECT_EQ(Numbers(DetectedPorts), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(person_.Selection(window, 1002), 1);
    EXPECT_EQ(person_.Text(window, 1002), kReceiverName);

    person_.Choose(window, 1002, 0);
    host_.PullOut(kAdapter);
    ASSERT_TRUE(WaitForPorts(window, {kGps}));
    EXPECT_EQ(Numbers(DetectedPorts), std::vector<int>{1});
    EXPECT_EQ(person_.Selection(window, 1002), 0);
}

TEST_F(InputPortListTest, ATypedPortStaysInTheBoxWhileTheListChanges)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    person_.Type(window, 1002, u"COM7");
    host_.PlugIn(kReceiver);
    ASSERT_TRUE(WaitForPorts(window, {kGps, kReceiverName}));
    EXPECT_EQ(person_.Text(window, 1002), u"COM7");
    EXPECT_EQ(person_.Selection(window, 1002), -1);
}

TEST_F(InputPortListTest, WhileIdleAnOutputOnTheNewPortsNumberLeavesTheOutputs)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2, 5});

    host_.PlugIn(kReceiver);
    ASSERT_TRUE(WaitForPorts(window, {kGps, kReceiverName}));
    EXPECT_EQ(ReadNumber(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\ttyACM0", u"Index"), 2u);
    EXPECT_EQ(person_.Entries(window, 1006), PortEntries({5}));
    EXPECT_EQ(Numbers(SplitOutputs), std::vector<int>{5});
    EXPECT_FALSE(IsFree(2));
    ExpectListsInStep(window);
}

TEST_F(InputPortListTest, WhileRelayingTheOutputsStayAndTheNewPortTakesANumberNoneUses)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2, 3});
    ASSERT_TRUE(StartRelaying(window));

    host_.PlugIn(kReceiver);
    ASSERT_TRUE(WaitForPorts(window, {kGps, kReceiverName}));
    EXPECT_EQ(ReadNumber(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\ttyACM0", u"Index"), 4u);
    EXPECT_EQ(Numbers(SplitOutputs), (std::vector<int>{2, 3}));
    EXPECT_EQ(person_.Entries(window, 1007), PortEntries({0, 5, 6, 7, 8, 9}));
    ExpectListsInStep(window);
    EXPECT_EQ(RelayControl.running.load(), 1);
    EXPECT_FALSE(person_.Enabled(window, 1002));
    EXPECT_TRUE(PortLinkExists(2));
    EXPECT_TRUE(PortLinkExists(3));
}

}  // namespace
}  // namespace tavrel::testing
