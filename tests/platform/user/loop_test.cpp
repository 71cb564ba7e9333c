// Message loops: nested modal dialogs, timers inside them, message boxes on
// any thread.
#include <atomic>

#include <gtest/gtest.h>

#include "dialog_thread.h"
#include "platform/kernel.h"
#include "platform/user.h"
#include "support/message_box_recorder.h"
#include "support/user_driver.h"

namespace {

using namespace tavrel::testing;

constexpr UINT kOpenInner = WM_APP + 10;
std::vector<BYTE> innerTemplate;
std::atomic<int> ticks{0};

void EndInnerLater(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    for (HWND window : platform::input::TopLevelWindows()) {
        const auto state = platform::input::Inspect(window);
        if (state && state->text == u"Inner") {
            EndDialog(window, 42);
        }
    }
}

BOOL InnerProcedure(HWND, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        SetTimer(nullptr, 0, 30, EndInnerLater);
        return TRUE;
    }
    return FALSE;
}

BOOL OuterProcedure(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        PostMessageW(dialog, kOpenInner, 0, 0);
        return TRUE;
    }
    if (message == kOpenInner) {
        const INT_PTR inner = DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(innerTemplate.data()),
                                                      dialog, InnerProcedure, 0);
        EndDialog(dialog, inner + 1);
        return TRUE;
    }
    return FALSE;
}

TEST(ModalLoops, NestAndEndWithTheirResults)
{
    innerTemplate = SampleDialog(u"Inner");
    const std::vector<BYTE> outer = SampleDialog(u"Outer");
    EXPECT_EQ(DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(outer.data()), nullptr, OuterProcedure,
                                      0),
              43);
    EXPECT_TRUE(platform::input::TopLevelWindows().empty());
}

BOOL EndAtOnce(HWND dialog, UINT message, WPARAM, LPARAM parameter)
{
    if (message == WM_INITDIALOG) {
        EndDialog(dialog, parameter);
        return TRUE;
    }
    return FALSE;
}

TEST(ModalLoops, ADialogEndedDuringItsInitialisationIsNeverShownAndBadTemplatesFail)
{
    UserDriver driver;
    const std::vector<BYTE> sample = SampleDialog(u"Brief");
    EXPECT_EQ(DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(sample.data()), nullptr, EndAtOnce, 5),
              5);
    EXPECT_EQ(DialogBoxIndirectParamW(nullptr, nullptr, nullptr, EndAtOnce, 5), -1);
    platform::DialogTemplateWriter unknown(WS_POPUP, 0, 0, 0, 10, 10, u"Unknown class");
    unknown.Add({1, u"NOSUCHCLASS", u"", std::nullopt, WS_CHILD, 0, 0, 0, 5, 5});
    const std::vector<BYTE> bytes = unknown.Bytes();
    EXPECT_EQ(DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), nullptr, EndAtOnce, 5),
              -1);
}

void CountTick(HWND, UINT message, UINT_PTR id, DWORD)
{
    EXPECT_EQ(message, WM_TIMER);
    if (++ticks == 3) {
        KillTimer(nullptr, id);
        SetTimer(nullptr, 0, 300, EndInnerLater);
    }
}

BOOL TickingProcedure(HWND, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        ticks = 0;
        const UINT_PTR first = SetTimer(nullptr, 0, 10, CountTick);
        const UINT_PTR second = SetTimer(nullptr, 0, 100000, CountTick);
        EXPECT_NE(first, 0u);
        EXPECT_NE(first, second);
        KillTimer(nullptr, second);
        EXPECT_EQ(KillTimer(nullptr, second), FALSE);
        return TRUE;
    }
    return FALSE;
}

TEST(Timers, FireInsideAModalLoopAndStopWhenKilled)
{
    const std::vector<BYTE> inner = SampleDialog(u"Inner");
    EXPECT_EQ(DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(inner.data()), nullptr,
                                      TickingProcedure, 0),
              42);
    EXPECT_EQ(ticks, 3);   // 300 ms after the third tick, no fourth came
}

DWORD ShowBox(LPVOID)
{
    return static_cast<DWORD>(MessageBoxW(nullptr, u"Unable to open input port", u"Tavrel", MB_OK | MB_ICONEXCLAMATION));
}

TEST(MessageBoxes, AWorkersBoxIsAnsweredWhileTheMainThreadWaits)
{
    // This thread's window has the focus that the worker's box takes away.
    HWND focused = CreateWindowExW(0, u"STATIC", u"Main", WS_POPUP | WS_VISIBLE, 0, 0, 100, 50, nullptr, nullptr,
                                   nullptr, nullptr);
    ASSERT_NE(focused, nullptr);
    SetFocus(focused);
    ASSERT_EQ(GetFocus(), focused);
    MessageBoxRecorder boxes(MessageBoxRecorder::Mode::Hold);
    HANDLE worker = CreateThread(nullptr, 0, ShowBox, nullptr, 0, nullptr);
    const auto box = boxes.WaitForBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, u"Unable to open input port");
    EXPECT_EQ(box->caption, u"Tavrel");
    EXPECT_EQ(box->type, 48u);
    EXPECT_EQ(box->owner, nullptr);
    // The person answers while this thread is blocked in a wait.
    std::thread person([&] {
        Sleep(50);
        boxes.Answer(IDOK);
    });
    EXPECT_EQ(WaitForSingleObject(worker, 20000), WAIT_OBJECT_0);
    person.join();
    DWORD answer = 0;
    GetExitCodeThread(worker, &answer);
    EXPECT_EQ(answer, static_cast<DWORD>(IDOK));
    CloseHandle(worker);
    DestroyWindow(focused);
}

TEST(MessageBoxes, CancelAndCloseAnswerAsTheStyleSays)
{
    UserDriver driver;
    std::atomic<int> answer{0};
    std::thread asker([&] { answer = MessageBoxW(nullptr, u"Go on?", u"Question", MB_OKCANCEL); });
    auto box = driver.WaitForMessageBox();
    ASSERT_TRUE(box.has_value());
    driver.Answer(*box, IDCANCEL);
    asker.join();
    EXPECT_EQ(answer, IDCANCEL);

    std::thread closer([&] { answer = MessageBoxW(nullptr, u"Note", u"Info", MB_OK); });
    box = driver.WaitForMessageBox();
    ASSERT_TRUE(box.has_value());
    driver.Close(box->window);
    closer.join();
    EXPECT_EQ(answer, IDOK);
}

TEST(MessageBoxes, WithNobodyToAnswerTheyReturnOkAtOnce)
{
    EXPECT_EQ(MessageBoxW(nullptr, u"Unattended", u"Tavrel", MB_OKCANCEL), IDOK);
    EXPECT_TRUE(platform::input::TopLevelWindows().empty());
}

}  // namespace
