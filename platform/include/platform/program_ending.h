// Ending the program for good, as a person closing it would, when nobody will
// answer it any more: a signal asked the process to end, or the display went
// away. Every way of ending goes through here, so that none of them waits for
// a person: a message box that is up, on whichever thread it runs, is
// answered as its OK button would answer it; a dialog such as the About box is
// closed; then the program's window is closed, and the program ends as when a
// person closes it (its settings saved, its devices given back).
#pragma once

#include <chrono>
#include <functional>

namespace platform {

// No deadline: go on until the program has ended.
inline constexpr std::chrono::milliseconds kUntilEnded = std::chrono::milliseconds::max();

// One round. From now on every message box on the current display answers
// itself at once as OK (MessageBoxW writes its caption and text to stderr),
// so that a box that comes while the program ends does not hold it. The boxes
// already up are answered with OK (one without an OK button is closed), then
// every other dialog but the program's window is closed, newest first, then
// the program's window. True when the program had a window to close.
bool EndProgramRound();

// Ends the program: a round, then another each second while it runs (each
// 50 ms while it has no window yet), should a box have come up just as a round
// went by or the program not have ended with its window. `waitEnded` waits up
// to the time it is given and says whether the program has ended. False when
// the program still runs after `patience`.
bool EndProgram(const std::function<bool(std::chrono::milliseconds)>& waitEnded,
                std::chrono::milliseconds patience = kUntilEnded);

}  // namespace platform
