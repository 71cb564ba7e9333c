// Dialogs, controls and a person's input on the headless display.
#include <mutex>

#include <gtest/gtest.h>

#include "dialog_thread.h"
#include "platform/shell.h"
#include "platform/user.h"
#include "support/user_driver.h"

namespace {

using namespace tavrel::testing;

// What the sample dialog's procedure heard, for the test thread to read.
struct Heard {
    std::mutex lock;
    std::vector<std::pair<int, int>> commands;   // id, notification
    std::vector<UINT> messages;
};
Heard heard;

std::vector<std::pair<int, int>> Commands()
{
    std::lock_guard guard(heard.lock);
    return heard.commands;
}

BOOL SampleProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        std::lock_guard guard(heard.lock);
        heard.commands.clear();
        heard.messages.clear();
        return TRUE;
    }
    case WM_COMMAND: {
        {
            std::lock_guard guard(heard.lock);
            heard.commands.emplace_back(LOWORD(wParam), HIWORD(wParam));
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 7);
        }
        return TRUE;
    }
    default:
        if (message >= WM_APP) {
            std::lock_guard guard(heard.lock);
            heard.messages.push_back(message);
            return TRUE;
        }
        return FALSE;
    }
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog_ = driver_.WaitForWindow(u"Sample");
        ASSERT_NE(dialog_, nullptr);
    }

    UserDriver driver_;
    DialogThread thread_{SampleDialog(u"Sample dialog"), SampleProcedure};
    HWND dialog_ = nullptr;
};

TEST_F(DialogTest, TheDialogShowsItsControlsAndFocusesTheFirstTabStop)
{
    const auto state = driver_.State(dialog_);
    EXPECT_TRUE(state.shown);
    EXPECT_TRUE(state.foreground);
    EXPECT_TRUE(state.captionOk);
    EXPECT_EQ(state.className, u"#32770");
    EXPECT_EQ(platform::input::Children(dialog_).size(), 7u);
    EXPECT_TRUE(driver_.State(dialog_, 10).focused);
    EXPECT_EQ(driver_.Text(dialog_, 10), u"Press");
    EXPECT_EQ(driver_.State(dialog_, 12).templatePlace.left, 4);
    EXPECT_EQ(driver_.State(dialog_, 12).templatePlace.bottom, 24 + 90);
}

TEST_F(DialogTest, ClicksReachTheParentAndADisabledButtonIgnoresThem)
{
    driver_.Click(dialog_, 10);
    driver_.Click(dialog_, 11);
    EXPECT_TRUE(driver_.Checked(dialog_, 11));
    driver_.Click(dialog_, 16);   // a group box is not a button to press
    EXPECT_EQ(Commands(), (std::vector<std::pair<int, int>>{{10, BN_CLICKED}, {11, BN_CLICKED}}));

    EnableWindow(driver_.Control(dialog_, 10), FALSE);
    EnableWindow(driver_.Control(dialog_, 11), FALSE);
    driver_.Click(dialog_, 10);
    driver_.Click(dialog_, 11);
    EXPECT_EQ(Commands().size(), 2u);
    EXPECT_TRUE(driver_.Checked(dialog_, 11));
    EXPECT_FALSE(driver_.Enabled(dialog_, 10));
}

TEST_F(DialogTest, ComboBoxesKeepInsertionOrderAndReportTheChoice)
{
    HWND combo = driver_.Control(dialog_, 12);
    HWND list = driver_.Control(dialog_, 13);
    for (const char16_t* text : {u"COM9:", u"COM1:", u"COM5:"}) {
        EXPECT_GE(SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)), 0);
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    EXPECT_EQ(driver_.Entries(dialog_, 12), (std::vector<std::u16string>{u"COM9:", u"COM1:", u"COM5:"}));
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);

    driver_.Choose(dialog_, 13, 1);
    EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(driver_.Text(dialog_, 13), u"COM1:");
    WCHAR entry[16] = {};
    EXPECT_EQ(SendMessageW(list, CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(entry)), 5);
    EXPECT_EQ(std::u16string(entry), u"COM5:");
    EXPECT_EQ(SendMessageW(list, CB_GETLBTEXT, 3, reinterpret_cast<LPARAM>(entry)), CB_ERR);

    // Deleting the chosen entry leaves no choice and, in a list, no text.
    EXPECT_EQ(SendMessageW(list, CB_DELETESTRING, 1, 0), 2);
    EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(driver_.Text(dialog_, 13), u"");
    EXPECT_EQ(SendMessageW(list, CB_DELETESTRING, 5, 0), CB_ERR);
    EXPECT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 2);

    const auto commands = Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), std::make_pair(13, int{CBN_SELCHANGE})), commands.end());
}

TEST_F(DialogTest, TypingIntoTheEditFieldReplacesTheChoice)
{
    HWND combo = driver_.Control(dialog_, 12);
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"Serial1 COM1:"));
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    EXPECT_EQ(driver_.Text(dialog_, 12), u"Serial1 COM1:");
    driver_.Type(dialog_, 12, u"com4");
    EXPECT_EQ(driver_.Text(dialog_, 12), u"com4");
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);

    // A drop-down list has no edit field.
    HWND list = driver_.Control(dialog_, 13);
    driver_.Type(dialog_, 13, u"typed");
    EXPECT_EQ(driver_.Text(dialog_, 13), u"");
    EXPECT_EQ(SendMessageW(list, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u"not an entry")), CB_ERR);

    WCHAR text[3] = {};
    EXPECT_EQ(GetWindowTextW(combo, text, 3), 2);   // the limit counts the terminator
    EXPECT_EQ(std::u16string(text), u"co");
    EXPECT_EQ(GetWindowTextW(combo, text, 0), 0);
    EXPECT_EQ(GetWindowTextLengthW(combo), 4);
}

TEST_F(DialogTest, ListBoxSelectionAndFocusNotifications)
{
    HWND list = driver_.Control(dialog_, 14);
    for (const char16_t* text : {u"COM2:", u"COM5:", u"COM7:"}) {
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    driver_.Choose(dialog_, 14, 2);
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(SendMessageW(list, LB_DELETESTRING, 0, 0), 2);
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 1);   // the choice moves with its entry
    WCHAR entry[8] = {};
    SendMessageW(list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(entry));
    EXPECT_EQ(std::u16string(entry), u"COM7:");

    driver_.Focus(dialog_, 12);
    driver_.Focus(dialog_, 14);
    const auto commands = Commands();
    const std::vector<std::pair<int, int>> expected = {
        {14, LBN_SETFOCUS}, {14, LBN_SELCHANGE}, {14, LBN_KILLFOCUS}, {12, CBN_SETFOCUS}, {12, CBN_KILLFOCUS},
        {14, LBN_SETFOCUS}};
    EXPECT_EQ(commands, expected);
}

TEST_F(DialogTest, CaptionOkAndCloseReachTheDialogProcedure)
{
    driver_.PressCaptionOk(dialog_);
    EXPECT_EQ(Commands(), (std::vector<std::pair<int, int>>{{IDOK, BN_CLICKED}}));
    driver_.Close(dialog_);   // not handled: the dialog hears Cancel
    EXPECT_EQ(thread_.Result(), 7);
    EXPECT_EQ(platform::input::Inspect(dialog_), std::nullopt);
}

TEST_F(DialogTest, HiddenWindowsLeaveTheForegroundAndShowingBringsThemBack)
{
    ShowWindow(dialog_, SW_HIDE);
    EXPECT_FALSE(driver_.Shown(dialog_));
    EXPECT_EQ(driver_.Foreground(), nullptr);
    driver_.Click(dialog_, 10);   // a hidden dialog cannot be clicked
    EXPECT_TRUE(Commands().empty());
    ShowWindow(dialog_, SW_SHOW);
    EXPECT_EQ(driver_.Foreground(), dialog_);
}

TEST_F(DialogTest, ShellDialogSetUpAndTheInputPanel)
{
    driver_.SetScreenSize(480, 640);
    SHINITDLGINFO info{SHIDIM_FLAGS, dialog_, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
    SHSipPreference(dialog_, SIP_UP);
    EXPECT_TRUE(platform::input::InputPanelUp());
    EXPECT_EQ(SHInitDialog(&info), TRUE);
    EXPECT_FALSE(platform::input::InputPanelUp());
    const RECT place = driver_.State(dialog_).place;
    EXPECT_EQ(place.right - place.left, 480);
    EXPECT_EQ(place.bottom - place.top, 640);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 480);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 640);
}

TEST_F(DialogTest, TrayIconTapsPostTheCallbackMessage)
{
    NOTIFYICONDATAW data{sizeof(NOTIFYICONDATAW), dialog_, 5000, NIF_MESSAGE | NIF_ICON, WM_APP + 1, nullptr, {}};
    EXPECT_EQ(Shell_NotifyIconW(NIM_ADD, &data), TRUE);
    EXPECT_EQ(Shell_NotifyIconW(NIM_ADD, &data), FALSE);
    ASSERT_EQ(platform::input::TrayIcons().size(), 1u);
    driver_.TapTrayIcon(dialog_, 5000);
    driver_.TapTrayIcon(dialog_, 4999);   // no such icon
    {
        std::lock_guard guard(heard.lock);
        EXPECT_EQ(heard.messages, (std::vector<UINT>{WM_APP + 1, WM_APP + 1}));
    }
    EXPECT_EQ(Shell_NotifyIconW(NIM_DELETE, &data), TRUE);
    EXPECT_EQ(Shell_NotifyIconW(NIM_DELETE, &data), FALSE);
    EXPECT_TRUE(platform::input::TrayIcons().empty());
}

}  // namespace
