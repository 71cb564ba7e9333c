// A thread per port that sleeps until the consumer's end of the line does
// something: a consumer sent bytes (they are taken, kept for the relay or
// dropped, or a consumer that writes, e.g. configuration commands for a GPS,
// would block once the pty's buffer fills), the last consumer closed the port
// (what it left unread must not reach the next one), or, while bytes wait for
// room, the pty has room; or until it is told to go on taking what consumers
// sent, which it stopped while the bytes kept for the relay were at their limit.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "platform/host/unique_fd.h"
#include "platform/host/wake_signal.h"

namespace quorvel {

class LineWatcher {
public:
    // Runs on the watcher's thread after the master reported something; returns
    // true while consumer input may still wait, to be called again at once.
    using Handler = std::function<bool()>;
    using Failure = std::function<void(const char* what, int error)>;

    // Starts the thread; throws std::system_error.
    LineWatcher(int master, Handler onActivity, Failure onFailure);
    // Wakes the thread and waits for it to end.
    ~LineWatcher();
    LineWatcher(const LineWatcher&) = delete;
    LineWatcher& operator=(const LineWatcher&) = delete;

    // Whether to wake up when the pty has room for more output.
    void WatchForRoom(bool watch);
    // Runs the handler again soon, from any thread: what consumers sent may
    // be taken again. Never blocks.
    void Resume();

private:
    void Run();
    bool WaitForActivity(bool inputMayRemain);

    const int master_;
    std::atomic<bool> watchingForRoom_{false};
    platform::host::UniqueFd epoll_;
    const platform::host::WakeSignal wake_;     // ends the thread
    const platform::host::WakeSignal resume_;   // runs the handler
    Handler onActivity_;
    Failure onFailure_;
    std::thread thread_;
};

}  // namespace quorvel
