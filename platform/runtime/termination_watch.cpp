// The termination watch: a thread that waits for SIGTERM or SIGINT and then
// posts WM_CLOSE to the program's main window.
#include "runtime/termination_watch.h"

#include <atomic>
#include <ctime>
#include <thread>

#include "platform/user.h"
#include "platform/user_input.h"

namespace platform {
namespace {

// The program's own window: its oldest top-level dialog that is not a message box.
HWND ProgramWindow()
{
    HWND oldest = nullptr;
    for (HWND window : input::TopLevelWindows()) {
        const auto state = input::Inspect(window);
        if (state && state->className == u"#32770" && !state->isMessageBox) {
            oldest = window;
        }
    }
    return oldest;
}

}  // namespace

sigset_t TerminationSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

struct TerminationWatch::State {
    std::atomic<bool> done{false};
    std::thread thread;

    void Run()
    {
        const sigset_t signals = TerminationSignals();
        const timespec poll{0, 200'000'000};
        bool asked = false;
        int sincePost = 0;
        while (!done) {
            if (sigtimedwait(&signals, nullptr, &poll) > 0) {
                asked = true;
                sincePost = 5;
            }
            if (asked && ++sincePost >= 5) {
                sincePost = 0;
                if (HWND window = ProgramWindow()) {
                    PostMessageW(window, WM_CLOSE, 0, 0);
                }
            }
        }
    }
};

TerminationWatch::TerminationWatch() : state_(std::make_unique<State>())
{
    state_->thread = std::thread([state = state_.get()] { state->Run(); });
}

TerminationWatch::~TerminationWatch()
{
    state_->done = true;
    state_->thread.join();
}

}  // namespace platform
