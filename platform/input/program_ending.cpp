// Ending the program for good: its message boxes answered, its dialogs closed,
// its window closed, through the same posted input that a person's taps are.
#include "platform/program_ending.h"

#include <optional>

#include "platform/display.h"
#include "platform/user.h"
#include "platform/user_input.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kRoundAgainAfter{1000};
constexpr std::chrono::milliseconds kLookForTheWindowAgainAfter{50};

// A press of the box's OK button, as a person answers it; a box without one
// is closed, as its close box answers it.
void AnswerOk(HWND box)
{
    for (HWND child : input::Children(box)) {
        const auto state = input::Inspect(child);
        if (state && state->id == IDOK && state->kind == input::WindowKind::Button) {
            input::Click(child);
            return;
        }
    }
    input::Close(box);
}

// The top-level dialogs other than the program's window, newest first.
std::vector<input::WindowState> OtherDialogs(HWND programWindow)
{
    std::vector<input::WindowState> dialogs;
    for (HWND window : input::TopLevelWindows()) {
        auto state = input::Inspect(window);
        if (state && state->kind == input::WindowKind::Dialog && window != programWindow) {
            dialogs.push_back(std::move(*state));
        }
    }
    return dialogs;
}

}  // namespace

bool EndProgramRound()
{
    CurrentDisplay()->NobodyWillAnswer();
    const HWND programWindow = input::ProgramWindow();
    const std::vector<input::WindowState> dialogs = OtherDialogs(programWindow);
    // Each thread takes its input in order, so a box that the program's own
    // thread shows is answered before that thread hears the close.
    for (const input::WindowState& dialog : dialogs) {
        if (dialog.isMessageBox) {
            AnswerOk(dialog.handle);
        }
    }
    for (const input::WindowState& dialog : dialogs) {
        if (!dialog.isMessageBox) {
            input::Close(dialog.handle);
        }
    }
    if (programWindow != nullptr) {
        input::Close(programWindow);
    }
    return programWindow != nullptr;
}

bool EndProgram(const std::function<bool(std::chrono::milliseconds)>& waitEnded, std::chrono::milliseconds patience)
{
    const std::optional<Clock::time_point> deadline =
        patience == kUntilEnded ? std::nullopt : std::optional(Clock::now() + patience);
    while (!waitEnded(std::chrono::milliseconds(0))) {
        if (deadline && Clock::now() >= *deadline) {
            return false;
        }
        const bool closedItsWindow = EndProgramRound();
        waitEnded(closedItsWindow ? kRoundAgainAfter : kLookForTheWindowAgainAfter);
    }
    return true;
}

}  // namespace platform
