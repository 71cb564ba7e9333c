// Ending the program as a person closing it would, for when nobody can any
// more because the display went away under it: every dialog of the process is
// closed, newest first (a message box answers as its close box does), and
// again every second, until the program has ended.
#pragma once

#include <chrono>
#include <functional>

namespace platform::qt {

// `waitEnded` waits up to the time given for the program to end and says
// whether it has. False when it still runs after `patience`.
bool CloseUntilEnded(const std::function<bool(std::chrono::milliseconds)>& waitEnded,
                     std::chrono::milliseconds patience);

}  // namespace platform::qt
