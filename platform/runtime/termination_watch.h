// Turns the signals that ask a process to end (SIGTERM, SIGINT) into the
// program's own way of ending: WM_CLOSE to its main window, as when a person
// closes it.
#pragma once

#include <csignal>
#include <memory>

namespace platform {

// The signals the watch handles. They must be blocked in every thread before
// any thread starts, so that only the watch receives them.
sigset_t TerminationSignals();

// Waits for a termination signal on a thread of its own and then closes the
// program's window (again every second until the program has ended). Stops
// when destroyed.
class TerminationWatch {
public:
    TerminationWatch();
    ~TerminationWatch();
    TerminationWatch(const TerminationWatch&) = delete;
    TerminationWatch& operator=(const TerminationWatch&) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
