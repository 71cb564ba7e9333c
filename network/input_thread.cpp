#include "network/input_thread.h"

#include <poll.h>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>

namespace tavrel::network {
namespace {

using Clock = std::chrono::steady_clock;

// What is left of `timeout` until `deadline`, as poll() takes it.
int PollMilliseconds(std::chrono::milliseconds timeout, Clock::time_point deadline)
{
    if (timeout < std::chrono::milliseconds::zero()) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left, 0, INT_MAX));
}

}  // namespace

std::optional<std::thread> StartNamedThread(const char* name, std::function<void()> run, std::string& failure)
{
    try {
        return std::thread([name, run = std::move(run)] {
            ::pthread_setname_np(::pthread_self(), name);
            run();
        });
    } catch (const std::system_error& error) {
        failure = std::string("cannot start a thread (") + name + "): " + error.what();
        return std::nullopt;
    }
}

InputThread::~InputThread()
{
    if (thread_.joinable()) {
        stop_.Wake();
        thread_.join();
    }
}

bool InputThread::Start(const char* name, std::function<void()> run, std::string& failure)
{
    if (!stop_.valid()) {
        failure = std::string("cannot make the stop signal of a thread (") + name + "): " + std::strerror(errno);
        return false;
    }
    auto thread = StartNamedThread(name, std::move(run), failure);
    if (thread) {
        thread_ = std::move(*thread);
    }
    return thread.has_value();
}

Woken SleepUntil(const platform::host::WakeSignal& stop, int socket, short events, std::chrono::milliseconds timeout)
{
    std::array<pollfd, 1> watched{{{socket, events, 0}}};
    return SleepUntil(stop, watched, timeout);
}

Woken SleepUntil(const platform::host::WakeSignal& stop, std::span<pollfd> watched, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    // On the stack: a source sleeps again for every chunk it reads.
    std::array<pollfd, kMostWatched + 1> all{{{stop.fd(), POLLIN, 0}}};
    const std::size_t count = std::min(watched.size(), kMostWatched);
    std::copy_n(watched.begin(), count, all.begin() + 1);
    for (;;) {
        // A signal ends poll() early: it sleeps again for what is left.
        const int ready = ::poll(all.data(), count + 1, PollMilliseconds(timeout, deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0 || all[0].revents != 0) {
            return Woken::Stopping;   // poll() itself failing leaves nothing to wait on
        }
        std::copy_n(all.begin() + 1, count, watched.begin());
        return ready > 0 ? Woken::Ready : Woken::TimedOut;
    }
}

}  // namespace tavrel::network
