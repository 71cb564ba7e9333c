// The qt display on Qt's offscreen platform: a dialog whose thread is not
// Qt's shown with a real widget per control, its changes followed, a person's
// clicks, choices and typing on the widgets reaching the window layer, the
// caption bar's OK and close box, a message box, and the tray.
#include <algorithm>
#include <cstdlib>
#include <future>
#include <mutex>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "dialog_thread.h"
#include "ico_builder.h"
#include "platform/display.h"
#include "platform/resources.h"
#include "platform/shell.h"
#include "platform/user.h"
#include "qt_person.h"

namespace {

using namespace tavrel::testing;
using platform::input::Inspect;

constexpr UINT kTrayMessage = WM_APP + 7;
constexpr UINT kHideYourself = WM_APP + 8;

// What the dialog's procedure heard, for the test thread to read.
struct Heard {
    std::mutex lock;
    std::vector<std::pair<int, int>> commands;   // id, notification
    std::vector<LPARAM> taps;                     // the tray callback's mouse messages
};
Heard heard;

std::vector<std::pair<int, int>> Commands()
{
    std::lock_guard guard(heard.lock);
    return heard.commands;
}

std::vector<LPARAM> Taps()
{
    std::lock_guard guard(heard.lock);
    return heard.taps;
}

template <typename Entry>
void Note(std::vector<Entry>& list, Entry entry)
{
    std::lock_guard guard(heard.lock);
    list.push_back(entry);
}

BOOL Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        std::lock_guard guard(heard.lock);
        heard.commands.clear();
        heard.taps.clear();
        return TRUE;
    }
    case WM_COMMAND:
        Note(heard.commands, std::pair<int, int>(LOWORD(wParam), HIWORD(wParam)));
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    case kTrayMessage:
        Note(heard.taps, lParam);
        if (lParam == WM_LBUTTONDOWN) {
            ShowWindow(dialog, SW_SHOW);
        }
        return TRUE;
    case kHideYourself: ShowWindow(dialog, SW_HIDE); return TRUE;
    default: return FALSE;
    }
}

HICON TestIcon()
{
    const std::vector<BYTE> file = IcoFile({IcoImage{16, 16, 24, DistinctColour, DiagonalMask}});
    platform::AddIconFileResources(900, file);
    return LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(900));
}

class QtDisplayTest : public ::testing::Test {
protected:
    explicit QtDisplayTest(platform::qt::HostTrayUse hostTray = platform::qt::HostTrayUse::Absent)
        : screen_(240, 320, 2, hostTray)
    {
    }

    void SetUp() override
    {
        dialog_ = std::make_unique<DialogThread>(SampleDialog(u"Sample dialog"), Procedure);
        ASSERT_TRUE(person_.WaitUntil([&] {
            window_ = FindDialog();
            return window_ != nullptr;
        }));
        person_.Settle(window_);
    }

    static HWND FindDialog()
    {
        for (HWND window : platform::input::TopLevelWindows()) {
            const auto state = Inspect(window);
            if (state && state->text == u"Sample dialog") {
                return window;
            }
        }
        return nullptr;
    }

    HWND Control(int id) const { return GetDlgItem(window_, id); }
    platform::input::WindowState State(int id) const { return Inspect(Control(id)).value_or(platform::input::WindowState{}); }

    void AddTrayIcon()
    {
        NOTIFYICONDATAW data{sizeof(NOTIFYICONDATAW), window_, 5000, NIF_MESSAGE | NIF_ICON, kTrayMessage, TestIcon(), {}};
        ASSERT_EQ(Shell_NotifyIconW(NIM_ADD, &data), TRUE);
    }

    QtTestApplication application_;
    QtScreenInPlace screen_;
    QtPerson person_{screen_.screen()};
    std::unique_ptr<DialogThread> dialog_;
    HWND window_ = nullptr;
};

TEST_F(QtDisplayTest, EachControlIsARealWidgetAtItsPlaceAndTheWindowIsTitledAfterTheDialog)
{
    platform::qt::DeviceScreen& screen = screen_.screen();
    ASSERT_TRUE(person_.WaitUntil([&] { return screen.isVisible(); }));
    EXPECT_EQ(screen.windowTitle(), QStringLiteral("Sample dialog"));
    EXPECT_EQ(screen.Caption().Title(), QStringLiteral("Sample dialog"));
    EXPECT_TRUE(screen.Caption().OkButton().isVisible());

    auto* press = person_.FindAs<QPushButton>(Control(10));
    ASSERT_NE(press, nullptr);
    EXPECT_EQ(press->text(), QStringLiteral("Press"));
    EXPECT_EQ(press->geometry(), screen.Metrics().Host(State(10).place));
    EXPECT_EQ(screen.focusWidget(), press);   // the first tab stop has the focus
    ASSERT_NE(person_.FindAs<QCheckBox>(Control(11)), nullptr);
    EXPECT_EQ(person_.FindAs<QCheckBox>(Control(11))->text(), QStringLiteral("Check"));
    auto* editable = person_.FindAs<QComboBox>(Control(12));
    auto* dropDownList = person_.FindAs<QComboBox>(Control(13));
    ASSERT_NE(editable, nullptr);
    ASSERT_NE(dropDownList, nullptr);
    EXPECT_TRUE(editable->isEditable());
    EXPECT_FALSE(dropDownList->isEditable());
    EXPECT_LT(editable->height(), screen.Metrics().Host(State(12).place).height());   // closed, one line high
    EXPECT_NE(person_.FindAs<QListWidget>(Control(14)), nullptr);
    ASSERT_NE(person_.FindAs<QLabel>(Control(15)), nullptr);
    EXPECT_EQ(person_.FindAs<QLabel>(Control(15))->text(), QStringLiteral("Label"));
    auto* group = qobject_cast<QGroupBox*>(screen.WidgetOf(Control(16)));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), QStringLiteral("Group"));
}

TEST_F(QtDisplayTest, ChangesMadeOnOtherThreadsAppearOnTheWidgets)
{
    // SendMessageW runs on the dialog's own thread; EnableWindow on this one.
    for (const char16_t* text : {u"one", u"two", u"three"}) {
        SendMessageW(Control(13), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        SendMessageW(Control(14), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    SendMessageW(Control(13), CB_SETCURSEL, 2, 0);
    SendMessageW(Control(14), LB_SETCURSEL, 1, 0);
    SetWindowTextW(Control(10), u"Pressed");
    CheckDlgButton(window_, 11, BST_CHECKED);
    EnableWindow(Control(15), FALSE);

    auto* list = person_.FindAs<QComboBox>(Control(13));
    auto* box = person_.FindAs<QListWidget>(Control(14));
    ASSERT_NE(list, nullptr);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(person_.WaitUntil([&] {
        return list->count() == 3 && list->currentText() == QStringLiteral("three") && box->currentRow() == 1 &&
               person_.FindAs<QPushButton>(Control(10))->text() == QStringLiteral("Pressed") &&
               person_.FindAs<QCheckBox>(Control(11))->isChecked() && !person_.Find(Control(15))->isEnabled();
    }));
    SendMessageW(Control(13), CB_DELETESTRING, 2, 0);
    EXPECT_TRUE(person_.WaitUntil([&] { return list->count() == 2 && list->currentIndex() == -1; }));
}

TEST_F(QtDisplayTest, APersonsClicksChoicesAndTypingReachTheWindowLayer)
{
    for (const char16_t* text : {u"one", u"two"}) {
        SendMessageW(Control(13), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        SendMessageW(Control(14), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    person_.Click(Control(10));
    person_.Click(Control(11));
    EXPECT_TRUE(State(11).checked);
    EXPECT_TRUE(person_.FindAs<QCheckBox>(Control(11))->isChecked());
    person_.ChooseEntry(Control(13), 1);
    EXPECT_EQ(State(13).selection, 1);
    EXPECT_EQ(State(13).text, u"two");
    person_.ChooseEntry(Control(14), 0);
    EXPECT_EQ(State(14).selection, 0);
    EXPECT_TRUE(State(14).focused);

    person_.Click(Control(12));
    person_.Type(Control(12), QStringLiteral("coM4"));
    person_.PressKey(Control(12), Qt::Key_Backspace);
    person_.Type(Control(12), QStringLiteral("7"));
    EXPECT_EQ(State(12).text, u"coM7");
    EXPECT_EQ(person_.FindAs<QComboBox>(Control(12))->currentText(), QStringLiteral("coM7"));

    const auto commands = Commands();
    for (const auto& expected : {std::pair<int, int>{10, BN_CLICKED}, {11, BN_CLICKED}, {13, CBN_SELCHANGE},
                                 {14, LBN_SELCHANGE}, {12, CBN_SETFOCUS}, {12, CBN_EDITCHANGE}}) {
        EXPECT_NE(std::find(commands.begin(), commands.end(), expected), commands.end())
            << expected.first << " " << expected.second;
    }
}

TEST_F(QtDisplayTest, TabMovesTheFocusAmongTheTabStopsAndADisabledControlTakesNoClick)
{
    ASSERT_TRUE(State(10).focused);
    person_.PressKey(Control(10), Qt::Key_Tab);
    EXPECT_TRUE(State(11).focused);
    person_.PressKey(Control(11), Qt::Key_Tab);
    EXPECT_TRUE(State(12).focused);
    person_.PressKey(Control(12), Qt::Key_Backtab);
    EXPECT_TRUE(State(11).focused);
    EXPECT_EQ(screen_.screen().focusWidget(), screen_.screen().WidgetOf(Control(11)));

    EnableWindow(Control(10), FALSE);
    ASSERT_TRUE(person_.WaitUntil([&] { return !person_.Find(Control(10))->isEnabled(); }));
    person_.Click(Control(10));
    const auto commands = Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), std::pair<int, int>{10, BN_CLICKED}), 0);
}

TEST_F(QtDisplayTest, TheControlWithTheFocusIsDrawnSoAndTheCueMovesWithTab)
{
    platform::qt::DeviceScreen& screen = screen_.screen();
    QWidget* press = person_.Find(Control(10));
    QWidget* check = person_.Find(Control(11));
    ASSERT_TRUE(press != nullptr && check != nullptr);
    ASSERT_TRUE(State(10).focused);
    const QImage pressFocused = PictureOf(screen, *press);
    const QImage checkAlone = PictureOf(screen, *check);
    person_.PressKey(Control(10), Qt::Key_Tab);
    ASSERT_TRUE(State(11).focused);
    // A dotted frame is half dots: at least a quarter of the frame's length
    // (the smaller side counted four times) must have changed, on both.
    const auto enough = [](const QWidget& widget) { return std::min(widget.width(), widget.height()); };
    EXPECT_GE(DifferingPixels(checkAlone, PictureOf(screen, *check)), enough(*check));
    EXPECT_GE(DifferingPixels(pressFocused, PictureOf(screen, *press)), enough(*press));
    person_.PressKey(Control(11), Qt::Key_Backtab);
    EXPECT_EQ(DifferingPixels(pressFocused, PictureOf(screen, *press)), 0) << "the cue comes back as it was";
    EXPECT_EQ(DifferingPixels(checkAlone, PictureOf(screen, *check)), 0);
}

TEST_F(QtDisplayTest, EnterAndEscOnTheWidgetsPressWhatTheDialogManagerSays)
{
    person_.PressKey(Control(10), Qt::Key_Return);   // the push button with the focus
    person_.PressKey(Control(10), Qt::Key_Tab);
    person_.PressKey(Control(11), Qt::Key_Enter, Qt::KeypadModifier);   // a check box: OK, in the caption
    EXPECT_FALSE(State(11).checked);
    person_.PressKey(Control(11), Qt::Key_Tab);
    person_.Type(Control(12), QStringLiteral("COM4"));
    person_.PressKey(Control(12), Qt::Key_Return);   // in the edit field
    const auto commands = Commands();
    for (const auto& pressed : {std::pair<int, int>{10, BN_CLICKED}, {IDOK, BN_CLICKED}}) {
        EXPECT_NE(std::find(commands.begin(), commands.end(), pressed), commands.end()) << pressed.first;
    }
    EXPECT_EQ(std::count(commands.begin(), commands.end(), std::pair<int, int>{IDOK, BN_CLICKED}), 2);
    EXPECT_EQ(State(12).text, u"COM4");
    person_.PressKey(Control(12), Qt::Key_Escape);
    EXPECT_EQ(dialog_->Result(), IDCANCEL);
}

TEST_F(QtDisplayTest, TheProgramsNameTitlesTheWindowAndNamesItsDesktopEntry)
{
    platform::qt::DeviceScreen& screen = screen_.screen();
    platform::SetHostIdentity({u"Sampler", "sampler"});
    EXPECT_TRUE(person_.WaitUntil([&] { return screen.windowTitle() == QStringLiteral("Sampler \u2014 Sample dialog"); }))
        << screen.windowTitle().toStdString();
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Sampler"));
    EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("sampler"));
    PostMessageW(window_, kHideYourself, 0, 0);   // nothing in front: the name alone
    EXPECT_TRUE(person_.WaitUntil([&] { return screen.windowTitle() == QStringLiteral("Sampler"); }));
    platform::SetHostIdentity({});
}

TEST_F(QtDisplayTest, TheCaptionBarsOkAndCloseBoxAnswerTheDialog)
{
    person_.PressCaptionOk(window_);
    EXPECT_EQ(Commands(), (std::vector<std::pair<int, int>>{{IDOK, BN_CLICKED}}));
    person_.PressCloseBox(window_);   // not handled: the dialog hears Cancel and ends
    EXPECT_EQ(dialog_->Result(), IDCANCEL);
    // Nothing is left to show and there is no tray icon: the screen goes.
    EXPECT_TRUE(person_.WaitUntil([&] { return !screen_.screen().isVisible(); }));
}

TEST_F(QtDisplayTest, TheHostWindowsCloseBoxClosesTheForegroundWindowAsTheDevicesDoes)
{
    ASSERT_TRUE(person_.WaitUntil([&] { return screen_.screen().isVisible(); }));
    EXPECT_FALSE(screen_.screen().close());   // the device decides, not the host window
    EXPECT_EQ(dialog_->Result(), IDCANCEL);
    EXPECT_EQ(Commands(), (std::vector<std::pair<int, int>>{{IDCANCEL, BN_CLICKED}}));
}

TEST_F(QtDisplayTest, AMessageBoxShowsItsIconTextAndButtonsAndAnswersWithThePressedOne)
{
    auto answer = std::async(std::launch::async, [] {
        return MessageBoxW(nullptr, u"The port went away.", u"Notice", MB_YESNO | MB_ICONQUESTION);
    });
    HWND box = nullptr;
    ASSERT_TRUE(person_.WaitUntil([&] {
        box = platform::input::Foreground();
        const auto state = Inspect(box);
        return state && state->isMessageBox;
    }));
    person_.Settle(box);
    EXPECT_EQ(screen_.screen().Caption().Title(), QStringLiteral("Notice"));
    QWidget* frame = person_.Find(box);
    ASSERT_NE(frame, nullptr);
    QStringList texts;
    bool iconShown = false;
    for (QLabel* label : frame->findChildren<QLabel*>()) {
        iconShown = iconShown || (label->isVisible() && !label->pixmap().isNull());
        texts.push_back(label->text());
    }
    EXPECT_TRUE(iconShown);
    EXPECT_TRUE(texts.contains(QStringLiteral("The port went away.")));
    QStringList buttons;
    for (QPushButton* button : frame->findChildren<QPushButton*>()) {
        buttons.push_back(button->text());
    }
    EXPECT_EQ(buttons, (QStringList{QStringLiteral("Yes"), QStringLiteral("No")}));
    // A box no larger than the screen is centred on it.
    const RECT place = Inspect(box)->place;
    EXPECT_LE(std::abs((240 - place.right) - place.left), 1);

    person_.Click(GetDlgItem(box, IDNO));
    ASSERT_EQ(answer.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(answer.get(), IDNO);
}

TEST_F(QtDisplayTest, ATrayIconIsAButtonOfTheTaskBarAndAClickIsATap)
{
    AddTrayIcon();
    person_.TapTrayIcon(window_, 5000);
    EXPECT_TRUE(person_.WaitUntil([] { return Taps().size() == 2; }));
    EXPECT_EQ(Taps(), (std::vector<LPARAM>{WM_LBUTTONDOWN, WM_LBUTTONUP}));
    QToolButton* button = screen_.screen().Tasks().Button(window_, 5000);
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->icon().isNull());
    EXPECT_EQ(button->toolTip(), QStringLiteral("Sample dialog"));   // no tip: its owner's caption

    // Without a host tray, the screen stays while the dialog hides, so that
    // the task bar can bring it back.
    PostMessageW(window_, kHideYourself, 0, 0);
    ASSERT_TRUE(person_.WaitUntil([&] { return !Inspect(window_)->visible; }));
    person_.Settle(window_);
    EXPECT_TRUE(screen_.screen().isVisible());
    person_.TapTrayIcon(window_, 5000);
    EXPECT_TRUE(person_.WaitUntil([&] { return person_.Find(window_) != nullptr && Inspect(window_)->visible; }));
}

class QtDisplayWithHostTrayTest : public QtDisplayTest {
protected:
    QtDisplayWithHostTrayTest() : QtDisplayTest(platform::qt::HostTrayUse::Present) {}
};

TEST_F(QtDisplayWithHostTrayTest, TheScreenHidesWhileNoWindowIsShownAndComesBackWithOne)
{
    AddTrayIcon();
    ASSERT_TRUE(person_.WaitUntil([&] { return screen_.screen().isVisible(); }));
    PostMessageW(window_, kHideYourself, 0, 0);
    EXPECT_TRUE(person_.WaitUntil([&] { return !screen_.screen().isVisible(); }));
    platform::input::TapTrayIcon(window_, 5000);   // as the host's tray icon does
    EXPECT_TRUE(person_.WaitUntil([&] { return screen_.screen().isVisible(); }));
    EXPECT_TRUE(Inspect(window_)->visible);
}

}  // namespace
