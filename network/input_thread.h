// What the threads of the network inputs share: the callback that takes what
// they read, how such a thread starts, and how it sleeps so that its owner
// can stop it at once, whatever it waits for.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "platform/host/wake_signal.h"

namespace tavrel::network {

// Takes what an input read, on the input's own thread.
using BytesCallback = std::function<void(std::span<const unsigned char>)>;

// A thread named `name` (15 characters at most) that runs `run`; nothing,
// with `failure` saying why, when the host gives no thread.
std::optional<std::thread> StartNamedThread(const char* name, std::function<void()> run, std::string& failure);

// An input's thread and the signal that stops it. Its owner keeps it last,
// so that it is destroyed first: the thread ends before what it uses goes.
class InputThread {
public:
    InputThread() = default;
    // Wakes the thread's stop signal and waits for the thread to end.
    ~InputThread();
    InputThread(const InputThread&) = delete;
    InputThread& operator=(const InputThread&) = delete;

    // Starts the thread as StartNamedThread does; false with `failure` set
    // when the host gives no thread or no descriptor for the signal.
    bool Start(const char* name, std::function<void()> run, std::string& failure);

    // What the thread sleeps on besides its socket (see SleepUntil).
    const platform::host::WakeSignal& stop() const { return stop_; }

private:
    platform::host::WakeSignal stop_;
    std::thread thread_;
};

enum class Woken { Ready, TimedOut, Stopping };

inline constexpr std::chrono::milliseconds kNoTimeout{-1};

// Sleeps until `socket` shows one of `events` or an error (-1: no socket),
// `timeout` has passed (kNoTimeout: never) or `stop` is woken. The owner
// wakes `stop` once and nobody drains it, so every later sleep ends at once too.
Woken SleepUntil(const platform::host::WakeSignal& stop, int socket, short events, std::chrono::milliseconds timeout);
// The same for several descriptors (the first kMostWatched of them): Ready
// when any of `watched` shows one of its events, each telling which in its revents.
inline constexpr std::size_t kMostWatched = 3;
Woken SleepUntil(const platform::host::WakeSignal& stop, std::span<pollfd> watched, std::chrono::milliseconds timeout);

}  // namespace tavrel::network
