// The Status button and dialog as a person uses them: the button in both
// layouts, one dialog at a time, what the relay does (idle, or relaying with
// the bytes the test fed), refreshed once a second only while the dialog is
// open, and the network settings stored from it, refused with the reason, or
// left alone by Cancel; and the tray icon's tooltip that follows the relay.
#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/tray_and_about.h"
#include "platform/quotas.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "platform/timer_clock.h"
#include "platform/user.h"
#include "platform/user_input.h"
#include "program_fixture.h"
#include "relay/relay_control.h"
#include "relay/relay_health.h"
#include "resources/resource_ids.h"
#include "testkit/loopback.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;
using tavrel::testing::ConnectLoopback;
using tavrel::testing::FreeLoopbackPort;
using tavrel::testing::SocketReader;

const std::u16string kStatusCaption = u"Tavrel Status";

std::u16string TrayTip()
{
    const auto icons = platform::input::TrayIcons();
    return icons.empty() ? u"" : icons.front().tip;
}

std::optional<std::u16string> UserText(const std::u16string& name)
{
    const auto value = ReadValue(HKEY_CURRENT_USER, kSettingsKey, name);
    if (!value || value->type != REG_SZ || value->data.size() % 2 != 0) {
        return std::nullopt;
    }
    std::u16string text;
    for (std::size_t at = 0; at + 1 < value->data.size(); at += 2) {
        text.push_back(static_cast<char16_t>(value->data[at] | (value->data[at + 1] << 8)));
    }
    while (!text.empty() && text.back() == u'\0') {
        text.pop_back();
    }
    return text;
}

bool HasLine(const std::vector<std::u16string>& lines, const std::u16string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class StatusDialogTest : public ProgramTest {
protected:
    HWND OpenStatus(HWND window) const
    {
        person_.Click(window, IDC_STATUS);
        return person_.WaitForWindow(kStatusCaption);
    }
    std::vector<std::u16string> Lines(HWND status) const { return person_.Entries(status, IDC_HEALTH); }
    int StatusWindows() const
    {
        int count = 0;
        for (HWND window : platform::input::TopLevelWindows()) {
            const auto state = platform::input::Inspect(window);
            count += state && state->shown && state->text == kStatusCaption ? 1 : 0;
        }
        return count;
    }
};

// ---- The button

struct Screen {
    int width;
    int height;
};

class StatusButtonLayoutTest : public StatusDialogTest, public ::testing::WithParamInterface<Screen> {};

TEST_P(StatusButtonLayoutTest, TheButtonComesAfterReconnectAndOpensTheDialogInTheScreensLayout)
{
    person_.SetScreenSize(GetParam().width, GetParam().height);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(person_.Text(window, IDC_STATUS), u"Status");
    const auto children = platform::input::Children(window);
    const auto reconnect = std::find(children.begin(), children.end(), person_.Control(window, IDC_RECONNECT));
    ASSERT_NE(reconnect, children.end());
    ASSERT_NE(reconnect + 1, children.end());
    EXPECT_EQ(*(reconnect + 1), person_.Control(window, IDC_STATUS));   // next in the tab order

    const HWND status = OpenStatus(window);
    ASSERT_NE(status, nullptr);
    const auto list = person_.State(status, IDC_HEALTH);
    // The list fills what the settings leave: taller on a portrait screen.
    EXPECT_EQ(list.templatePlace.bottom - list.templatePlace.top, GetParam().height > GetParam().width ? 118 : 72);
    EXPECT_EQ(Lines(status), std::vector<std::u16string>{u"Idle: not relaying"});
    person_.Click(status, IDCANCEL);
    EXPECT_TRUE(person_.WaitForNoWindow(kStatusCaption));
    EXPECT_TRUE(person_.Shown(window));
}

INSTANTIATE_TEST_SUITE_P(Screens, StatusButtonLayoutTest, ::testing::Values(Screen{240, 320}, Screen{320, 240}),
                         [](const auto& named) {
                             return std::to_string(named.param.width) + "x" + std::to_string(named.param.height);
                         });

TEST_F(StatusDialogTest, AskingAgainBringsTheOpenDialogForwardInsteadOfASecond)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    const HWND status = OpenStatus(window);
    ASSERT_NE(status, nullptr);
    person_.TapTrayIcon(window, TrayIconId);   // the main window in front again
    ASSERT_EQ(person_.Foreground(), window);
    person_.Click(window, IDC_STATUS);
    EXPECT_EQ(person_.Foreground(), status);
    EXPECT_EQ(StatusWindows(), 1);
}

TEST_F(StatusDialogTest, ExitWithTheDialogOpenClosesItAndEndsTheProgram)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    ASSERT_NE(OpenStatus(window), nullptr);
    person_.Close(window);
    EXPECT_EQ(WaitForExit(), 1);
    EXPECT_EQ(StatusWindows(), 0);
}

// ---- Refreshing

TEST_F(StatusDialogTest, TheListRefreshesEverySecondOnlyWhileTheDialogIsOpen)
{
    platform::HeldTimerClock clock;
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2});
    ASSERT_TRUE(StartRelaying(window));
    const HWND status = OpenStatus(window);
    ASSERT_NE(status, nullptr);
    const auto opened = Lines(status);
    ASSERT_TRUE(HasLine(opened, u"  0 bytes read, 0 read failures")) << "no bytes were fed yet";

    input().Feed({'$', 'G', 'P'});
    ASSERT_TRUE(person_.WaitUntil([] { return TakeRelayHealth().input.bytesRead == 3; }));
    clock.Advance(999ms);
    ASSERT_TRUE(platform::input::WaitForIdle(status));
    EXPECT_EQ(Lines(status), opened);
    clock.Advance(1ms);
    ASSERT_TRUE(platform::input::WaitForIdle(status));
    EXPECT_TRUE(HasLine(Lines(status), u"  3 bytes read, 0 read failures"));
    EXPECT_TRUE(HasLine(Lines(status), u"COM2: 3 relayed, 0 dropped"));
    person_.Click(window, IDC_START_STOP);   // the window stays usable under the dialog
    EXPECT_TRUE(person_.WaitUntil([] { return RelayControl.running == 0; }));
    clock.Advance(1000ms);
    ASSERT_TRUE(platform::input::WaitForIdle(status));
    EXPECT_EQ(Lines(status), std::vector<std::u16string>{u"Idle: not relaying"});
    EXPECT_EQ(TrayTip(), platform::ToUtf16(RelaySummary(TakeRelayHealth())));
    person_.Click(status, IDCANCEL);
    ASSERT_TRUE(person_.WaitForNoWindow(kStatusCaption));

    // Closed, the dialog leaves no timer behind on the window's thread: with
    // room for one timer only, the About box still gets its own and closes itself.
    platform::SetTimerQuota(1);
    person_.Click(window, IDC_ABOUT);
    ASSERT_NE(person_.WaitForWindow(u"About Tavrel"), nullptr);
    clock.Advance(5000ms);
    EXPECT_TRUE(person_.WaitForNoWindow(u"About Tavrel", 5s));
    platform::SetTimerQuota(platform::kDefaultTimerQuota);
}

TEST_F(StatusDialogTest, ARelayingRunShowsTheBytesTheInputGotOnEveryPort)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2, 5});
    ASSERT_TRUE(StartRelaying(window));
    const HWND status = OpenStatus(window);
    ASSERT_NE(status, nullptr);
    input().Feed(std::vector<BYTE>(250, 'x'));
    EXPECT_TRUE(person_.WaitUntil([&] {
        const auto lines = Lines(status);
        return HasLine(lines, u"  250 bytes read, 0 read failures") && HasLine(lines, u"COM2: 250 relayed, 0 dropped") &&
               HasLine(lines, u"COM5: 250 relayed, 0 dropped");
    }));
    const auto lines = Lines(status);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().rfind(u"Input COM1 at ", 0), 0u);
    EXPECT_TRUE(HasLine(lines, u"  last byte just now") || HasLine(lines, u"  last byte 1 s ago"));
}

// ---- Settings

TEST_F(StatusDialogTest, SettingsGoToTheRegistryWithOkAndComeBackWhenReopened)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    HWND status = OpenStatus(window);
    ASSERT_NE(status, nullptr);
    EXPECT_FALSE(person_.Checked(status, IDC_TCP_SERVER));
    EXPECT_EQ(person_.Text(status, IDC_TCP_PORT), u"");
    EXPECT_FALSE(person_.Enabled(status, IDC_TCP_PORT));
    EXPECT_FALSE(person_.Enabled(status, IDC_TCP_ALLOW));

    person_.Click(status, IDC_TCP_SERVER);
    EXPECT_EQ(person_.Text(status, IDC_TCP_PORT), u"10110");   // offered when there was none
    EXPECT_TRUE(person_.Enabled(status, IDC_TCP_PORT));
    EXPECT_TRUE(person_.Enabled(status, IDC_TCP_ALLOW));
    person_.Type(status, IDC_TCP_PORT, u"10111");
    person_.Click(status, IDC_TCP_ANY_ADDRESS);
    person_.Type(status, IDC_TCP_ALLOW, u"192.168.1.0/24 10.0.0.7");
    person_.Type(status, IDC_UDP_TARGET, u"127.0.0.1:10112");
    person_.PressCaptionOk(status);
    ASSERT_TRUE(person_.WaitForNoWindow(kStatusCaption));
    EXPECT_TRUE(person_.MessageBoxes().empty());
    EXPECT_EQ(UserNumber(u"TcpPort"), 10111u);
    EXPECT_EQ(UserNumber(u"TcpAnyAddress"), 1u);
    EXPECT_EQ(UserText(u"TcpAllow"), u"192.168.1.0/24 10.0.0.7");
    EXPECT_EQ(UserText(u"UdpTarget"), u"127.0.0.1:10112");

    status = OpenStatus(window);
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(person_.Checked(status, IDC_TCP_SERVER));
    EXPECT_EQ(person_.Text(status, IDC_TCP_PORT), u"10111");
    EXPECT_TRUE(person_.Checked(status, IDC_TCP_ANY_ADDRESS));
    EXPECT_EQ(person_.Text(status, IDC_TCP_ALLOW), u"192.168.1.0/24 10.0.0.7");
    EXPECT_EQ(person_.Text(status, IDC_UDP_TARGET), u"127.0.0.1:10112");

    // Turned off again with Apply: the port goes to 0, the dialog stays.
    person_.Click(status, IDC_TCP_SERVER);
    person_.Click(status, IDC_APPLY);
    EXPECT_EQ(UserNumber(u"TcpPort"), 0u);
    EXPECT_EQ(StatusWindows(), 1);
}

// A port that tavrel-config stores while the dialog is open shows in it, so
// that OK keeps it instead of storing the older one again.
TEST_F(StatusDialogTest, APortStoredByTavrelConfigWhileOpenShowsAndOkKeepsIt)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    const HWND status = OpenStatus(window);
    ASSERT_NE(status, nullptr);
    SetUserNumber(u"TcpPort", 10111);
    EXPECT_TRUE(TellOfStoredSetting("TcpPort"));
    ASSERT_TRUE(person_.WaitUntil([&] { return person_.Text(status, IDC_TCP_PORT) == u"10111"; }));
    EXPECT_TRUE(person_.Checked(status, IDC_TCP_SERVER));
    person_.PressCaptionOk(status);
    ASSERT_TRUE(person_.WaitForNoWindow(kStatusCaption));
    EXPECT_EQ(UserNumber(u"TcpPort"), 10111u);
}

TEST_F(StatusDialogTest, AnAllowEntryThatDoesNotParseIsRefusedWithTheReasonAndTheDialogStays)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    const HWND status = OpenStatus(window);
    ASSERT_NE(status, nullptr);
    person_.Click(status, IDC_TCP_SERVER);
    person_.Click(status, IDC_TCP_ANY_ADDRESS);
    person_.Type(status, IDC_TCP_ALLOW, u"192.168.1.0/24 192.168.1.300");
    person_.PressCaptionOk(status);

    const auto box = person_.WaitForMessageBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->caption, u"Tavrel");
    EXPECT_NE(box->text.find(u"192.168.1.300"), std::u16string::npos) << platform::ToUtf8(box->text);
    person_.Answer(*box);
    EXPECT_TRUE(person_.WaitUntil([&] { return person_.MessageBoxes().empty(); }));
    EXPECT_EQ(StatusWindows(), 1);
    EXPECT_EQ(person_.Text(status, IDC_TCP_ALLOW), u"192.168.1.0/24 192.168.1.300");   // nothing typed is lost
    EXPECT_FALSE(UserNumber(u"TcpPort").has_value());
    EXPECT_FALSE(UserText(u"TcpAllow").has_value());

    person_.Type(status, IDC_TCP_PORT, u"70000");
    person_.Type(status, IDC_TCP_ALLOW, u"192.168.1.0/24");
    person_.Click(status, IDC_APPLY);
    const auto portBox = person_.WaitForMessageBox();
    ASSERT_TRUE(portBox.has_value());
    EXPECT_NE(portBox->text.find(u"70000"), std::u16string::npos) << platform::ToUtf8(portBox->text);
    person_.Answer(*portBox);
    EXPECT_FALSE(UserNumber(u"TcpPort").has_value());
}

// More... opens the outputs beyond this machine: a wrong topic is refused
// with the reason and nothing is stored; right ones are stored with OK and
// shown again.
TEST_F(StatusDialogTest, TheNetworkBeyondThisMachineIsSetInMoreAndAWrongValueStoresNothing)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    const HWND status = OpenStatus(window);
    ASSERT_NE(status, nullptr);
    person_.Click(status, IDC_REACH);
    HWND reach = person_.WaitForWindow(u"Tavrel Network");
    ASSERT_NE(reach, nullptr);
    EXPECT_EQ(person_.Text(reach, IDC_MQTT_TOPIC), u"nmea/<host>/<talker><type>");
    EXPECT_EQ(person_.Selection(reach, IDC_ANNOUNCE), 0);   // auto
    person_.Choose(reach, IDC_ANNOUNCE, 1);
    person_.Type(reach, IDC_TCP_CONNECT, u"plotter.local:10110,192.168.1.20:2000");
    person_.Type(reach, IDC_MQTT_BROKER, u"broker.local:1883");
    person_.Type(reach, IDC_MQTT_TOPIC, u"boats/#");
    person_.Choose(reach, IDC_MQTT_QOS, 1);
    person_.Click(reach, IDC_MQTT_RETAIN_RMC);
    person_.PressCaptionOk(reach);

    const auto box = person_.WaitForMessageBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text.rfind(u"Topic: ", 0), 0u) << platform::ToUtf8(box->text);
    person_.Answer(*box);
    EXPECT_FALSE(UserText(u"MqttBroker").has_value()) << "nothing is stored while one box is wrong";
    person_.Type(reach, IDC_MQTT_TOPIC, u"boats/<host>/<type>");
    person_.PressCaptionOk(reach);
    ASSERT_TRUE(person_.WaitForNoWindow(u"Tavrel Network"));
    EXPECT_EQ(UserText(u"TcpConnect"), u"plotter.local:10110,192.168.1.20:2000");
    EXPECT_EQ(UserText(u"MqttBroker"), u"broker.local:1883");
    EXPECT_EQ(UserText(u"MqttTopic"), u"boats/<host>/<type>");
    EXPECT_EQ(UserNumber(u"Announce"), 1u);
    EXPECT_EQ(UserNumber(u"MqttQos"), 1u);
    EXPECT_EQ(UserNumber(u"MqttRetainRmc"), 1u);

    person_.Click(status, IDC_REACH);
    reach = person_.WaitForWindow(u"Tavrel Network");
    ASSERT_NE(reach, nullptr);
    EXPECT_EQ(person_.Text(reach, IDC_MQTT_BROKER), u"broker.local:1883");
    EXPECT_EQ(person_.Selection(reach, IDC_MQTT_QOS), 1);
    EXPECT_TRUE(person_.Checked(reach, IDC_MQTT_RETAIN_RMC));
    person_.Click(reach, IDCANCEL);
    EXPECT_TRUE(person_.WaitForNoWindow(u"Tavrel Network"));
}

TEST_F(StatusDialogTest, CancelAndCloseChangeNothing)
{
    SetUserNumber(u"TcpPort", 10110);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    for (const bool close : {false, true}) {
        const HWND status = OpenStatus(window);
        ASSERT_NE(status, nullptr);
        person_.Click(status, IDC_TCP_SERVER);
        person_.Type(status, IDC_UDP_TARGET, u"127.0.0.1:9");
        if (close) {
            person_.Close(status);
        } else {
            person_.Click(status, IDCANCEL);
        }
        ASSERT_TRUE(person_.WaitForNoWindow(kStatusCaption));
        EXPECT_EQ(UserNumber(u"TcpPort"), 10110u);
        EXPECT_FALSE(UserText(u"UdpTarget").has_value());
    }
}

// ---- The TCP server, set from the dialog

// A socket that listens on 127.0.0.1:port, holding the port for the test.
class PortHolder {
public:
    explicit PortHolder(std::uint16_t port) : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        listening_ = socket_ >= 0 && ::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
                     ::listen(socket_, 1) == 0;
    }
    ~PortHolder()
    {
        if (socket_ >= 0) {
            ::close(socket_);
        }
    }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    bool listening() const { return listening_; }

private:
    int socket_;
    bool listening_ = false;
};

class StatusTcpTest : public StatusDialogTest {
protected:
    // The TCP server on `port`, set in the dialog as a person does, with OK.
    void SetServerPort(HWND window, std::uint16_t port) const
    {
        const HWND status = OpenStatus(window);
        ASSERT_NE(status, nullptr);
        if (!person_.Checked(status, IDC_TCP_SERVER)) {
            person_.Click(status, IDC_TCP_SERVER);
        }
        person_.Type(status, IDC_TCP_PORT, platform::ToUtf16(std::to_string(port)));
        person_.PressCaptionOk(status);
        ASSERT_TRUE(person_.WaitForNoWindow(kStatusCaption));
    }
};

TEST_F(StatusTcpTest, AClientsBytesAndTheServersCountsShowAsTheClientGotThem)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    const std::uint16_t port = FreeLoopbackPort();
    SetServerPort(window, port);
    AddOutputs(window, {2});
    ASSERT_TRUE(StartRelaying(window));
    ASSERT_TRUE(person_.WaitUntil([&] { return TakeRelayHealth().network.tcpPort == port; }));   // listening
    SocketReader client(ConnectLoopback(port));
    ASSERT_GE(client.socket(), 0);
    ASSERT_TRUE(person_.WaitUntil([] { return TakeRelayHealth().network.tcp.clients.size() == 1; }));
    input().Feed(std::vector<BYTE>(300, 'n'));
    ASSERT_TRUE(person_.WaitUntil([&] { return client.count() == 300; }));

    const HWND status = OpenStatus(window);
    ASSERT_NE(status, nullptr);
    const std::u16string listening = u"TCP port " + platform::ToUtf16(std::to_string(port)) + u", this computer only";
    EXPECT_TRUE(person_.WaitUntil([&] {
        const auto lines = Lines(status);
        return HasLine(lines, listening) && HasLine(lines, u"  1 client, 0 refused, 0 cut off") &&
               HasLine(lines, u"    300 sent, 0 dropped") && HasLine(lines, u"  300 bytes read, 0 read failures");
    }));
    const auto lines = Lines(status);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::u16string& line) {
        return line.rfind(u"  127.0.0.1:", 0) == 0 && line.find(u" for ") != std::u16string::npos;
    }));
    // The tooltip counts the client too.
    EXPECT_EQ(TrayTip(), u"Tavrel: COM1 to 1 port, 1 TCP client");
}

TEST_F(StatusTcpTest, ANewPortAppliedWhileRelayingIsListenedOnAtOnce)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    SetServerPort(window, FreeLoopbackPort());
    AddOutputs(window, {2});
    ASSERT_TRUE(StartRelaying(window));
    const std::uint16_t moved = FreeLoopbackPort();
    SetServerPort(window, moved);
    EXPECT_EQ(UserNumber(u"TcpPort"), moved);
    EXPECT_TRUE(person_.WaitUntil([&] { return TakeRelayHealth().network.tcpPort == moved; }));
    SocketReader client(ConnectLoopback(moved));
    EXPECT_GE(client.socket(), 0);
}

TEST_F(StatusTcpTest, APortInUseIsNamedInABoxAndTheRelayGoesOn)
{
    const std::uint16_t port = FreeLoopbackPort();
    const PortHolder holder(port);
    ASSERT_TRUE(holder.listening());
    SetUserNumber(u"TcpPort", port);
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2});
    ASSERT_TRUE(StartRelaying(window));

    const auto box = person_.WaitForMessageBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->caption, u"Tavrel");
    EXPECT_EQ(box->text.rfind(u"TCP server: ", 0), 0u) << platform::ToUtf8(box->text);
    EXPECT_NE(box->text.find(platform::ToUtf16(std::to_string(port))), std::u16string::npos);
    EXPECT_EQ(box->text.find(u"TCP server: TCP server"), std::u16string::npos);
    EXPECT_TRUE(Relays(2));   // while the box waits for its answer
    person_.Answer(*box);
    EXPECT_EQ(RelayControl.running.load(), 1);
}

// ---- The tray icon's tooltip

TEST_F(StatusDialogTest, TheTooltipFollowsTheRelayWhenTheWindowHearsItChanged)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    const std::u16string idle = platform::ToUtf16(RelaySummary(TakeRelayHealth()));
    EXPECT_FALSE(idle.empty());
    EXPECT_EQ(TrayTip(), idle);
    AddOutputs(window, {2});
    ASSERT_TRUE(StartRelaying(window));
    PostMessageW(window, RelayHealthChangedMessage, 0, 0);
    ASSERT_TRUE(platform::input::WaitForIdle(window));
    const std::u16string relaying = platform::ToUtf16(RelaySummary(TakeRelayHealth()));
    EXPECT_NE(relaying, idle);
    EXPECT_EQ(TrayTip(), relaying);
    EXPECT_TRUE(person_.MessageBoxes().empty());   // no failure, no box
}

}  // namespace
