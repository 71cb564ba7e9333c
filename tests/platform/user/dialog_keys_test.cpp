// Enter and Esc in dialogs and message boxes on the headless display: what
// the dialog hears, and what a box answers.
#include <future>
#include <mutex>

#include <gtest/gtest.h>

#include "dialog_thread.h"
#include "platform/user.h"
#include "support/user_driver.h"

namespace {

using namespace tavrel::testing;

constexpr int kApply = 20;
constexpr int kOption = 21;

struct Heard {
    std::mutex lock;
    std::vector<int> commands;
};
Heard heard;

std::vector<int> Commands()
{
    std::lock_guard guard(heard.lock);
    return heard.commands;
}

// Notes every command; Cancel ends the dialog.
BOOL NotingProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        std::lock_guard guard(heard.lock);
        heard.commands.clear();
        return TRUE;
    }
    if (message != WM_COMMAND) {
        return FALSE;
    }
    {
        std::lock_guard guard(heard.lock);
        heard.commands.push_back(LOWORD(wParam));
    }
    if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
    }
    return TRUE;
}

// A check box first, then OK, a default Apply and Cancel; no OK in the caption.
std::vector<BYTE> ButtonsDialog()
{
    using Item = platform::DialogTemplateWriter::Item;
    const DWORD child = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    platform::DialogTemplateWriter writer(WS_POPUP | WS_CAPTION | DS_SETFONT, 0, 0, 0, 156, 60, u"Buttons");
    writer.Font(8, u"MS Sans Serif")
        .Add(Item{kOption, u"BUTTON", u"Option", std::nullopt, child | BS_AUTOCHECKBOX, 0, 4, 4, 60, 10})
        .Add(Item{IDOK, u"BUTTON", u"OK", std::nullopt, child | BS_PUSHBUTTON, 0, 4, 40, 40, 14})
        .Add(Item{kApply, u"BUTTON", u"Apply", std::nullopt, child | BS_DEFPUSHBUTTON, 0, 50, 40, 40, 14})
        .Add(Item{IDCANCEL, u"BUTTON", u"Cancel", std::nullopt, child | BS_PUSHBUTTON, 0, 96, 40, 40, 14});
    return writer.Bytes();
}

class DialogKeysTest : public ::testing::Test {
protected:
    HWND Open(std::vector<BYTE> dialogTemplate, const std::u16string& caption)
    {
        thread_ = std::make_unique<DialogThread>(std::move(dialogTemplate), NotingProcedure);
        return driver_.WaitForWindow(caption);
    }

    UserDriver driver_;
    std::unique_ptr<DialogThread> thread_;
};

TEST_F(DialogKeysTest, EnterPressesTheFocusedPushButtonElseTheDefaultOneWhichADisabledOneKeeps)
{
    const HWND dialog = Open(ButtonsDialog(), u"Buttons");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(driver_.State(dialog, kOption).focused);
    driver_.PressKey(driver_.Control(dialog, kOption), VK_RETURN);   // a check box is not pressed by Enter
    EXPECT_FALSE(driver_.Checked(dialog, kOption));
    driver_.Focus(dialog, IDOK);
    driver_.PressKey(driver_.Control(dialog, IDOK), VK_RETURN);
    EXPECT_EQ(Commands(), (std::vector<int>{kApply, IDOK}));

    EnableWindow(driver_.Control(dialog, kApply), FALSE);
    driver_.Focus(dialog, kOption);
    driver_.PressKey(driver_.Control(dialog, kOption), VK_RETURN);
    EXPECT_EQ(Commands().size(), 2u) << "a disabled default button does not hand Enter to OK";
}

TEST_F(DialogKeysTest, EscIsCancelUnlessTheCancelButtonIsDisabled)
{
    const HWND dialog = Open(ButtonsDialog(), u"Buttons");
    ASSERT_NE(dialog, nullptr);
    EnableWindow(driver_.Control(dialog, IDCANCEL), FALSE);
    driver_.PressKey(driver_.Control(dialog, kOption), VK_ESCAPE);
    EXPECT_TRUE(Commands().empty());
    EnableWindow(driver_.Control(dialog, IDCANCEL), TRUE);
    driver_.PressKey(driver_.Control(dialog, kOption), VK_ESCAPE);
    EXPECT_EQ(thread_->Result(), IDCANCEL);
    EXPECT_EQ(Commands(), std::vector<int>{IDCANCEL});
}

// The sample dialog has no default button and no OK control, but an OK in its caption.
TEST_F(DialogKeysTest, WithoutADefaultButtonEnterIsTheCaptionsOkAndEscReachesADialogWithoutCancel)
{
    const HWND dialog = Open(SampleDialog(u"Sample"), u"Sample");
    ASSERT_NE(dialog, nullptr);
    driver_.PressKey(driver_.Control(dialog, 12), VK_RETURN);   // in the combo box's edit field
    driver_.PressKey(dialog, VK_RETURN);                        // with no control focused
    driver_.PressKey(driver_.Control(dialog, 10), VK_RETURN);   // on the push button
    EXPECT_EQ(Commands(), (std::vector<int>{IDOK, IDOK, 10}));
    driver_.PressKey(driver_.Control(dialog, 14), VK_ESCAPE);
    EXPECT_EQ(thread_->Result(), IDCANCEL);
}

// Each box answers the key as a person expects of a message box.
TEST_F(DialogKeysTest, AMessageBoxTakesEnterAsItsFirstButtonAndEscAsCancelOrItsOnlyOk)
{
    struct Case {
        UINT type;
        WPARAM key;
        int answer;   // 0: the key leaves the box up
    };
    for (const Case& sample : {Case{MB_YESNO, VK_RETURN, IDYES}, Case{MB_OKCANCEL, VK_ESCAPE, IDCANCEL},
                               Case{MB_OK, VK_ESCAPE, IDOK}, Case{MB_YESNO, VK_ESCAPE, 0}}) {
        SCOPED_TRACE(std::to_string(sample.type) + " key " + std::to_string(sample.key));
        auto answer = std::async(std::launch::async, [&] { return MessageBoxW(nullptr, u"Go on?", u"Box", sample.type); });
        const auto box = driver_.WaitForMessageBox();
        ASSERT_TRUE(box.has_value());
        driver_.PressKey(box->window, sample.key);
        if (sample.answer == 0) {
            EXPECT_EQ(answer.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
            driver_.Answer(*box, IDNO);
            EXPECT_EQ(answer.get(), IDNO);
        } else {
            EXPECT_EQ(answer.get(), sample.answer);
        }
    }
}

}  // namespace
