// The termination watch: a thread that sleeps in poll() on a signalfd for the
// termination signals and on an eventfd through which the process tells it
// that it is to stop. Only after a signal does it wake on a timer: to end a
// boot that does not finish, or, once the program runs, to end the program
// (platform/program_ending.h) until the process tells it to stop. The end of
// boot reads the signalfd itself, so a signal sent before it always counts as
// one during boot.
#include "runtime/termination_watch.h"

#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/host/unique_fd.h"
#include "platform/host/wake_signal.h"
#include "platform/program_ending.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using host::UniqueFd;

// How long a boot may still run after a signal asked the process to end.
constexpr auto kBootGrace = std::chrono::seconds(2);

// poll()'s time-out until `moment`: -1 (none) without one, 0 once it is past.
int PollTimeout(const std::optional<Clock::time_point>& moment)
{
    if (!moment) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*moment - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// The number of the signal waiting on the signalfd; 0 when none is there.
int TakeSignal(const UniqueFd& signals)
{
    signalfd_siginfo info{};
    const ssize_t got = ::read(signals.get(), &info, sizeof info);
    return got == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
}

}  // namespace

sigset_t TerminationSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    // SIGUSR1 and SIGUSR2 too: scripts send them to daemons (to rotate logs),
    // and left to their default action they would end the process at once,
    // with nothing saved and the ports' links left behind.
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2}) {
        sigaddset(&signals, signal);
    }
    return signals;
}

int ExitCodeOfSignal(int signal)
{
    return 128 + signal;
}

struct TerminationWatch::State {
    UniqueFd signals;  // signalfd of TerminationSignals()
    host::WakeSignal wake;   // woken: what is guarded below has changed
    std::thread thread;

    std::mutex lock;
    // Guarded by lock: the first signal that came (0: none yet) and when the
    // watch has to act on it again.
    bool booting = true;
    bool stopping = false;
    int asked = 0;
    std::optional<Clock::time_point> next;

    // Takes a signal that is waiting. Only the first one counts; later ones
    // ask for what is under way already. Lock held.
    void TakeSignalLocked()
    {
        const int signal = TakeSignal(signals);
        if (signal == 0 || asked != 0) {
            return;
        }
        asked = signal;
        next = Clock::now() + (booting ? Clock::duration(kBootGrace) : Clock::duration::zero());
    }

    void Run()
    {
        ::pthread_setname_np(::pthread_self(), "signal-watch");
        do {
            int timeout = -1;
            {
                std::lock_guard guard(lock);
                timeout = PollTimeout(next);
            }
            pollfd watched[] = {{signals.get(), POLLIN, 0}, {wake.fd(), POLLIN, 0}};
            if (::poll(watched, 2, timeout) > 0 && (watched[1].revents & POLLIN) != 0) {
                wake.Drain();
            }
        } while (Act());
    }

    // False once the watch is to stop.
    bool Act()
    {
        std::unique_lock guard(lock);
        if (stopping) {
            return false;
        }
        TakeSignalLocked();
        if (!next || Clock::now() < *next) {
            return true;
        }
        if (booting) {
            std::fprintf(stderr, "platform: the device did not finish booting; ending at once\n");
            ::_exit(ExitCodeOfSignal(asked));
        }
        next.reset();
        guard.unlock();
        // The process stops the watch once WinMain has returned.
        EndProgram([this](std::chrono::milliseconds wait) { return WaitToStop(wait); });
        return false;
    }

    // Waits up to `wait` to be told to stop; true once it was.
    bool WaitToStop(std::chrono::milliseconds wait)
    {
        pollfd woken{wake.fd(), POLLIN, 0};
        if (::poll(&woken, 1, static_cast<int>(wait.count())) > 0) {
            wake.Drain();
        }
        std::lock_guard guard(lock);
        return stopping;
    }
};

TerminationWatch::TerminationWatch() : state_(std::make_unique<State>())
{
    const sigset_t signals = TerminationSignals();
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    state_->signals = UniqueFd(::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!state_->signals.valid() || !state_->wake.valid()) {
        // Nobody would take them: left to their default action, they still end the process.
        std::fprintf(stderr, "platform: cannot watch for termination signals: %s\n", std::strerror(errno));
        ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
        return;
    }
    state_->thread = std::thread([state = state_.get()] { state->Run(); });
}

TerminationWatch::~TerminationWatch()
{
    if (!state_->thread.joinable()) {
        return;
    }
    {
        std::lock_guard guard(state_->lock);
        state_->stopping = true;
    }
    state_->wake.Wake();
    state_->thread.join();
}

std::optional<int> TerminationWatch::BootEnded()
{
    if (!state_->thread.joinable()) {
        return std::nullopt;
    }
    std::lock_guard guard(state_->lock);
    // A signal sent before this moment counts as one during boot, whether or
    // not the watch has taken it yet.
    state_->TakeSignalLocked();
    state_->booting = false;
    if (state_->asked == 0) {
        return std::nullopt;
    }
    state_->next.reset();  // ending the process is main's now: nothing is left to close
    state_->wake.Wake();
    return state_->asked;
}

}  // namespace platform
