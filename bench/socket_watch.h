// Watches how many sockets a relay's processes hold, to see when the relay
// lets a client go: a relay closes its end at once, while the client may
// not learn of it until it reads again.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <thread>
#include <vector>

#include "bench/clock.h"

namespace tavrel::bench {

// The descriptors of `processes` that are sockets, listening ones included.
std::size_t SocketCount(const std::vector<pid_t>& processes);

class SocketWatch {
public:
    // Counts now, then every `interval` until destroyed.
    SocketWatch(std::vector<pid_t> processes, std::chrono::milliseconds interval);

    // When (seconds after `start`) the count fell, once per socket gone.
    std::vector<double> ClosedAfter(Clock::time_point start) const;

private:
    void Watch(const std::stop_token& stop, std::chrono::milliseconds interval);

    std::vector<pid_t> processes_;
    std::size_t initial_ = 0;
    mutable std::mutex mutex_;
    std::vector<Clock::time_point> closed_;
    std::jthread sampler_;
};

}  // namespace tavrel::bench
