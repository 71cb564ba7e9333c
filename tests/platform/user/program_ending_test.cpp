// Ending a program for good with nobody answering it: the boxes that are up,
// on any thread, are answered as OK would answer them, the other dialogs and
// then the program's window are closed, and a box that comes afterwards
// answers itself.
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dialog_thread.h"
#include "platform/display.h"
#include "platform/program_ending.h"
#include "platform/user.h"
#include "support/user_driver.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

constexpr UINT kShowBox = WM_APP + 1;

// What the program window's procedure did, in order.
struct Trail {
    std::mutex lock;
    std::vector<std::string> steps;

    void Add(std::string step)
    {
        std::lock_guard guard(lock);
        steps.push_back(std::move(step));
    }
    std::vector<std::string> Steps()
    {
        std::lock_guard guard(lock);
        return steps;
    }
};
Trail trail;

// The program's window: shows a box of its own thread when asked, and ends
// when it is closed.
BOOL ProgramProcedure(HWND dialog, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: return TRUE;
    case kShowBox:
        trail.Add("box answered " + std::to_string(MessageBoxW(nullptr, u"Of the window's thread", u"Window box",
                                                               MB_OKCANCEL | MB_ICONEXCLAMATION)));
        return TRUE;
    case WM_CLOSE:
        trail.Add("closed");
        EndDialog(dialog, 1);
        return TRUE;
    default: return FALSE;
    }
}

// A window that a close does not end.
BOOL StubbornProcedure(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG || message == WM_CLOSE;
}

// Another dialog, such as an About box: closing it answers Cancel.
BOOL OtherProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

std::future<int> BoxOnAThreadOfItsOwn(const char16_t* caption, UINT type)
{
    return std::async(std::launch::async, [caption, type] { return MessageBoxW(nullptr, u"Text", caption, type); });
}

TEST(EndingTheProgram, AnswersBoxesOnEveryThreadWithOkThenClosesTheDialogsAndLastTheProgramWindow)
{
    UserDriver person;   // in front of the screen, answering nothing
    DialogThread program(SampleDialog(u"Program"), ProgramProcedure);
    const HWND window = person.WaitForWindow(u"Program");
    ASSERT_NE(window, nullptr);
    PostMessageW(window, kShowBox, 0, 0);
    ASSERT_NE(person.WaitForWindow(u"Window box"), nullptr);
    std::future<int> workerBox = BoxOnAThreadOfItsOwn(u"Worker box", MB_OKCANCEL);
    ASSERT_NE(person.WaitForWindow(u"Worker box"), nullptr);
    DialogThread other(SampleDialog(u"Other dialog"), OtherProcedure);
    ASSERT_NE(person.WaitForWindow(u"Other dialog"), nullptr);

    const auto allEnded = [&] {
        return program.Ended() && other.Ended() && workerBox.wait_for(0s) == std::future_status::ready;
    };
    EXPECT_TRUE(platform::EndProgram([&](std::chrono::milliseconds wait) { return person.WaitUntil(allEnded, wait); },
                                     20s));
    // The window's own box was answered before the window heard its close.
    EXPECT_EQ(trail.Steps(), (std::vector<std::string>{"box answered " + std::to_string(IDOK), "closed"}));
    EXPECT_EQ(program.Result(), 1);
    EXPECT_EQ(workerBox.get(), IDOK);
    EXPECT_EQ(other.Result(), IDCANCEL);
    EXPECT_TRUE(platform::input::TopLevelWindows().empty());
}

TEST(EndingTheProgram, ABoxThatComesOnceTheEndingBeganAnswersItselfUntilANewPersonSits)
{
    {
        UserDriver person;
        EXPECT_FALSE(platform::EndProgramRound());   // no program window yet
        std::future<int> box = BoxOnAThreadOfItsOwn(u"Late box", MB_OKCANCEL);
        const bool answered = box.wait_for(20s) == std::future_status::ready;
        EXPECT_TRUE(answered) << "the box waits for a person";
        if (!answered) {
            person.Answer(*person.WaitForMessageBox());
        }
        EXPECT_EQ(box.get(), IDOK);
        EXPECT_TRUE(platform::input::TopLevelWindows().empty());
    }
    UserDriver next;
    EXPECT_TRUE(platform::CurrentDisplay()->SomeoneCanAnswer());
}

TEST(EndingTheProgram, GivesUpAfterItsPatienceWhenTheProgramWindowDoesNotEnd)
{
    UserDriver person;
    DialogThread program(SampleDialog(u"Program"), StubbornProcedure);
    ASSERT_NE(person.WaitForWindow(u"Program"), nullptr);

    EXPECT_FALSE(platform::EndProgram(
        [&](std::chrono::milliseconds wait) { return person.WaitUntil([&] { return program.Ended(); }, wait); },
        100ms));
    EXPECT_FALSE(program.Ended());
}

}  // namespace
