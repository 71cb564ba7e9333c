// Turns the signals that ask a process to end (SIGTERM, SIGINT, SIGHUP,
// SIGQUIT, and SIGUSR1 and SIGUSR2, whose default action ends a process just
// as abruptly) into the program's own way of ending, as when a person closes its
// window: its message boxes answered and its dialogs closed first, so that
// nothing waits for a person (platform/program_ending.h).
//
// Before the program runs there is nothing to close. A signal that comes while
// the device boots lets the boot finish what it is doing (its registry writes
// are whole either way) and then ends the process without starting the
// program; should the boot not finish within a short grace period (it waits
// for a file system or a lock that does not answer), the process ends at once,
// as a kill would end it. Either way the exit code is 128 + the signal, as a
// shell reports a process that a signal ended.
//
// The watch sleeps until a signal comes: it makes no wake-ups of its own.
#pragma once

#include <csignal>
#include <memory>
#include <optional>

namespace platform {

// The signals the watch handles.
sigset_t TerminationSignals();

// The exit code of a process that `signal` ended before its program ran.
int ExitCodeOfSignal(int signal);

class TerminationWatch {
public:
    // Blocks the termination signals in the calling thread, so that every
    // thread started from it afterwards leaves them to the watch, and starts
    // watching. To be made on the main thread before any other thread starts.
    TerminationWatch();
    // Stops the watch at once.
    ~TerminationWatch();
    TerminationWatch(const TerminationWatch&) = delete;
    TerminationWatch& operator=(const TerminationWatch&) = delete;

    // Boot is over. Gives the signal that asked the process to end while it
    // ran, if one did: the program is then not to be started. From now on a
    // signal ends the program, until the watch is stopped.
    std::optional<int> BootEnded();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
