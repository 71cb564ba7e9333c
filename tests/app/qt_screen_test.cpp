// The program's dialogs as the qt display draws them on Qt's offscreen
// platform: the main window in both layouts and at two scales, the About box,
// a message box, the Status dialog of a run and an output port's settings,
// each saved as a picture in the build's picture folder
// and checked against the layout of its template.
#include <algorithm>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "app/tray_and_about.h"
#include "platform/registry.h"
#include "platform/user.h"
#include "platform/user_input.h"
#include "qt_screen_fixture.h"
#include "relay/relay_control.h"
#include "relay/relay_health.h"
#include "testkit/loopback.h"
#include "resources/resource_ids.h"
#include "state/app_settings.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;

struct Layout {
    const char* name;
    int width;
    int height;
    WORD dialog;
    WORD status;
    WORD portSettings;
};
const Layout kPortrait{"portrait", 240, 320, IDD_MAIN_PORTRAIT, IDD_STATUS_PORTRAIT, IDD_PORT_SETTINGS_PORTRAIT};
const Layout kLandscape{"landscape", 320, 240, IDD_MAIN_LANDSCAPE, IDD_STATUS_LANDSCAPE, IDD_PORT_SETTINGS_LANDSCAPE};

const DLGTEMPLATE* Template(WORD id)
{
    HRSRC found = FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), RT_DIALOG);
    HGLOBAL loaded = found != nullptr ? LoadResource(GetModuleHandleW(nullptr), found) : nullptr;
    return static_cast<const DLGTEMPLATE*>(loaded != nullptr ? LockResource(loaded) : nullptr);
}

HWND WindowCaptioned(const std::u16string& caption)
{
    for (HWND window : platform::input::TopLevelWindows()) {
        const auto state = platform::input::Inspect(window);
        if (state && state->visible && state->text == caption) {
            return window;
        }
    }
    return nullptr;
}

class DialogPictures : public ProgramOnQtScreen, public ::testing::WithParamInterface<std::tuple<Layout, int>> {
protected:
    DialogPictures()
        : ProgramOnQtScreen(std::get<0>(GetParam()).width, std::get<0>(GetParam()).height, std::get<1>(GetParam()))
    {
    }

    std::string Name(const std::string& what) const
    {
        return what + "-" + std::get<0>(GetParam()).name + "-x" + std::to_string(std::get<1>(GetParam()));
    }

    HWND WaitForWindow(const std::u16string& caption)
    {
        HWND window = nullptr;
        hands_.WaitUntil([&] {
            window = WindowCaptioned(caption);
            return window != nullptr;
        });
        return window;
    }
};

TEST_P(DialogPictures, TheMainWindowIsDrawnAsItsTemplateLaysItOut)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    SavePicture(window, Name("main"));
    EXPECT_EQ(screen().windowTitle(), QStringLiteral("Tavrel \u2014 Tavrel V1.20"));
    ExpectDrawnAsLaidOut(screen(), window, Template(std::get<0>(GetParam()).dialog));
}

TEST_P(DialogPictures, TheAboutBoxAndAMessageBoxAreDrawnWithAllTheyHold)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    hands_.Click(GetDlgItem(window, IDC_ABOUT));
    const HWND about = WaitForWindow(u"About Tavrel");
    ASSERT_NE(about, nullptr);
    SavePicture(about, Name("about"));
    ExpectDrawnAsLaidOut(screen(), about, Template(IDD_ABOUT));
    // The text is a window of its own that the box owns, placed on the screen.
    const auto* text = qobject_cast<QLabel*>(screen().WidgetOf(OwnedWindows(about).front()));
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->text().startsWith(QStringLiteral("Tavrel is FREE software.")));
    EXPECT_TRUE(screen().WidgetOf(about)->geometry().contains(text->geometry()));
    EXPECT_TRUE(text->isVisible());
    hands_.PressCaptionOk(about);
    ASSERT_TRUE(hands_.WaitUntil([&] { return platform::input::Inspect(about) == std::nullopt; }));

    hands_.Click(GetDlgItem(window, IDC_INPUT_PORT));
    hands_.PressKey(GetDlgItem(window, IDC_INPUT_PORT), Qt::Key_A, Qt::ControlModifier);   // all of it
    hands_.Type(GetDlgItem(window, IDC_INPUT_PORT), QStringLiteral("PORT4"));
    EXPECT_EQ(platform::input::Inspect(GetDlgItem(window, IDC_INPUT_PORT))->text, u"PORT4");
    hands_.Click(GetDlgItem(window, IDC_START_STOP));
    const HWND box = WaitForWindow(u"Tavrel");
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(platform::input::Inspect(box)->isMessageBox);
    SavePicture(box, Name("message-box"));
    ExpectDrawnAsLaidOut(screen(), box, nullptr);
    hands_.Click(GetDlgItem(box, IDOK));
    EXPECT_TRUE(hands_.WaitUntil([&] { return platform::input::Inspect(box) == std::nullopt; }));
}

// A run relaying to COM2 and COM5 with a few bytes through it, and a TCP
// server on the loopback address with one client.
TEST_P(DialogPictures, TheStatusDialogOfARunIsDrawnWithAllItHolds)
{
    const std::uint16_t serverPort = tavrel::testing::FreeLoopbackPort();
    SetUserNumber(u"TcpPort", serverPort);
    WriteText(HKEY_CURRENT_USER, kSettingsKey, u"TcpAllow", u"127.0.0.1 192.168.1.0/24");
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    for (const int port : {2, 5}) {
        const auto free = platform::input::Inspect(GetDlgItem(window, IDC_FREE_OUTPUTS))->entries;
        const auto entry = std::find(free.begin(), free.end(), u"COM" + std::u16string(1, static_cast<char16_t>(u'0' + port)) + u":");
        ASSERT_NE(entry, free.end());
        hands_.ChooseEntry(GetDlgItem(window, IDC_FREE_OUTPUTS), static_cast<int>(entry - free.begin()));
        hands_.Click(GetDlgItem(window, IDC_ADD));
    }
    hands_.Click(GetDlgItem(window, IDC_START_STOP));
    ASSERT_TRUE(hands_.WaitUntil([&] { return TakeRelayHealth().network.tcpPort == serverPort; }));
    tavrel::testing::SocketReader client(tavrel::testing::ConnectLoopback(serverPort));
    ASSERT_TRUE(hands_.WaitUntil([] { return TakeRelayHealth().network.tcp.clients.size() == 1; }));
    input().Feed(std::vector<BYTE>(82, '$'));

    hands_.Click(GetDlgItem(window, IDC_STATUS));
    const HWND status = WaitForWindow(u"Tavrel Status");
    ASSERT_NE(status, nullptr);
    ASSERT_TRUE(hands_.WaitUntil([&] {
        const auto lines = platform::input::Inspect(GetDlgItem(status, IDC_HEALTH))->entries;
        return std::find(lines.begin(), lines.end(), u"COM5: 82 relayed, 0 dropped") != lines.end() &&
               std::find(lines.begin(), lines.end(), u"    82 sent, 0 dropped") != lines.end();
    }));
    SavePicture(status, Name("status"));
    ExpectDrawnAsLaidOut(screen(), status, Template(std::get<0>(GetParam()).status));
    hands_.Click(GetDlgItem(status, IDCANCEL));
    EXPECT_TRUE(hands_.WaitUntil([&] { return platform::input::Inspect(status) == std::nullopt; }));
    hands_.Click(GetDlgItem(window, IDC_START_STOP));
    EXPECT_TRUE(hands_.WaitUntil([] { return RelayControl.running == 0; }));
}

// An output's settings, opened by a double click on the output in the list.
TEST_P(DialogPictures, ThePortSettingsAreDrawnWithAllTheyHold)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2});
    auto* outputs = hands_.FindAs<QListWidget>(GetDlgItem(window, IDC_OUTPUT_LIST));
    ASSERT_TRUE(outputs != nullptr && hands_.WaitUntil([&] { return outputs->count() == 1; }));
    // A click, and a second press that Qt reports as a double click.
    const QPoint entry = outputs->visualItemRect(outputs->item(0)).center();
    QTest::mouseClick(outputs->viewport(), Qt::LeftButton, Qt::NoModifier, entry);
    QTest::mouseDClick(outputs->viewport(), Qt::LeftButton, Qt::NoModifier, entry);
    const HWND settings = WaitForWindow(u"COM2 Settings");
    ASSERT_NE(settings, nullptr);
    SavePicture(settings, Name("port-settings"));
    ExpectDrawnAsLaidOut(screen(), settings, Template(std::get<0>(GetParam()).portSettings));
    hands_.Click(GetDlgItem(settings, IDCANCEL));
    EXPECT_TRUE(hands_.WaitUntil([&] { return platform::input::Inspect(settings) == std::nullopt; }));
}

// The outputs beyond this machine, opened by the Status dialog's More...:
// one dialog that fits either screen.
TEST_P(DialogPictures, TheNetworkBeyondThisMachineFitsEitherScreen)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    hands_.Click(GetDlgItem(window, IDC_STATUS));
    const HWND status = WaitForWindow(u"Tavrel Status");
    ASSERT_NE(status, nullptr);
    hands_.Click(GetDlgItem(status, IDC_REACH));
    const HWND reach = WaitForWindow(u"Tavrel Network");
    ASSERT_NE(reach, nullptr);
    SavePicture(reach, Name("network"));
    ExpectDrawnAsLaidOut(screen(), reach, Template(IDD_NETWORK_REACH));
    hands_.Click(GetDlgItem(reach, IDCANCEL));
    EXPECT_TRUE(hands_.WaitUntil([&] { return platform::input::Inspect(reach) == std::nullopt; }));
    hands_.Click(GetDlgItem(status, IDCANCEL));
}

// The Start/Stop button reads "STOP SPLITTER" while relaying and "START
// SPLITTER" after a stop, in both layouts.
TEST_P(DialogPictures, TheStartStopButtonsTextsFitItWhileRelayingAndAfterAStop)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2});
    ASSERT_TRUE(StartRelaying(window));
    SavePicture(window, Name("main-relaying"));
    ExpectDrawnAsLaidOut(screen(), window, nullptr);
    hands_.Click(GetDlgItem(window, IDC_START_STOP));
    ASSERT_TRUE(hands_.WaitUntil([] { return RelayControl.running == 0; }));
    SavePicture(window, Name("main-stopped"));
    EXPECT_EQ(platform::input::Inspect(GetDlgItem(window, IDC_START_STOP))->text, u"START SPLITTER");
    ExpectDrawnAsLaidOut(screen(), window, nullptr);
}

// The control of the dialog that has the keyboard focus; null when none has.
HWND FocusedControl(HWND dialog)
{
    for (HWND child : platform::input::Children(dialog)) {
        if (platform::input::Inspect(child)->focused) {
            return child;
        }
    }
    return nullptr;
}

TEST_P(DialogPictures, TabDrawsTheFocusOnTheButtonItReaches)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    const HWND add = GetDlgItem(window, IDC_ADD);
    const QWidget* button = hands_.Find(add);
    ASSERT_NE(button, nullptr);
    const QImage before = PictureOf(screen(), *button);
    for (int presses = 0; presses < 8 && FocusedControl(window) != add; ++presses) {
        hands_.PressKey(FocusedControl(window), Qt::Key_Tab);
    }
    ASSERT_EQ(FocusedControl(window), add);
    SavePicture(window, Name("focus"));
    EXPECT_GE(DifferingPixels(before, PictureOf(screen(), *button)), std::min(button->width(), button->height()));
}

INSTANTIATE_TEST_SUITE_P(Layouts, DialogPictures,
                         ::testing::Combine(::testing::Values(kPortrait, kLandscape), ::testing::Values(1, 2)),
                         [](const auto& layout) {
                             return std::string(std::get<0>(layout.param).name) + "_x" +
                                    std::to_string(std::get<1>(layout.param));
                         });

class MainWindowOnQtScreen : public ProgramOnQtScreen {
protected:
    MainWindowOnQtScreen() : ProgramOnQtScreen(240, 320, 1) {}
};

// Docks group a window with the menu entry whose StartupWMClass is the
// window's class (X11) or whose file is named after its application id (Wayland).
TEST_F(MainWindowOnQtScreen, ItsClassAndApplicationIdAreThoseOfTheMenuEntry)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    hands_.Settle(window);   // the screen has read what the program told it
    const std::filesystem::path entry = TAVREL_DESKTOP_ENTRY;
    const std::string text = tavrel::testing::ReadWholeFile(entry);
    const std::string wmClass = "\nStartupWMClass=" + QCoreApplication::applicationName().toStdString() + "\n";
    EXPECT_NE(text.find(wmClass), std::string::npos) << text;
    EXPECT_EQ(QGuiApplication::desktopFileName().toStdString() + ".desktop", entry.filename().string());
}

// The About box has no control to take the focus: it takes it itself, so
// that Esc closes it, and the focus goes back to About when it has gone.
TEST_F(MainWindowOnQtScreen, EscClosesTheAboutBoxAndTheFocusComesBack)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    hands_.Click(GetDlgItem(window, IDC_ABOUT));
    HWND about = nullptr;
    ASSERT_TRUE(hands_.WaitUntil([&] {
        about = platform::input::Foreground();
        return about != window && about != nullptr && hands_.Find(about) != nullptr;
    }));
    EXPECT_TRUE(platform::input::Inspect(about)->focused);
    hands_.PressKeyWhereTheFocusIs(about, Qt::Key_Escape);
    ASSERT_TRUE(hands_.WaitUntil([&] { return !platform::input::Inspect(about).has_value(); }));
    EXPECT_TRUE(hands_.WaitUntil([&] { return platform::input::Inspect(GetDlgItem(window, IDC_ABOUT))->focused; }));
    EXPECT_TRUE(platform::input::Inspect(window).has_value());
}

// Exit is the main window's Cancel button, which relaying disables: Esc ends
// an idle Tavrel as Exit does, and never a relay. Enter is the caption's OK.
TEST_F(MainWindowOnQtScreen, EnterHidesItToTheTrayAndEscEndsItOnlyWhileNothingIsRelayed)
{
    const HWND window = Launch();
    ASSERT_NE(window, nullptr);
    AddOutputs(window, {2});
    ASSERT_TRUE(StartRelaying(window));
    hands_.PressKey(GetDlgItem(window, IDC_AUTOSTART), Qt::Key_Escape);
    EXPECT_TRUE(platform::input::Inspect(window).has_value());
    EXPECT_EQ(RelayControl.running, 1);
    hands_.Click(GetDlgItem(window, IDC_START_STOP));
    ASSERT_TRUE(hands_.WaitUntil([] { return RelayControl.running == 0; }));

    hands_.Click(GetDlgItem(window, IDC_INPUT_PORT));
    hands_.PressKey(GetDlgItem(window, IDC_INPUT_PORT), Qt::Key_Return);
    ASSERT_TRUE(hands_.WaitUntil([&] { return !platform::input::Inspect(window)->visible; }));
    EXPECT_EQ(RelayControl.running, 0);
    hands_.TapTrayIcon(window, TrayIconId);
    ASSERT_TRUE(hands_.WaitUntil([&] { return platform::input::Inspect(window)->visible; }));
    person_.Click(window, IDC_AUTOSTART);   // Exit takes the box's tick
    ASSERT_TRUE(person_.Checked(window, IDC_AUTOSTART));
    hands_.PressKey(GetDlgItem(window, IDC_AUTOSTART), Qt::Key_Escape);
    EXPECT_EQ(WaitForExit(), 1);
    EXPECT_EQ(AppSettings.autostart, 1);
}

}  // namespace
