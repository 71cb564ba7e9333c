#include "drivers/serial/device_wait.h"

#include <poll.h>

#include <cerrno>
#include <climits>

namespace platform::serial {
namespace {

// poll()'s time-out for the deadline: -1 without one, rounded up to whole
// milliseconds so that a wait never ends just before its deadline.
int PollTimeout(const Deadline& deadline)
{
    if (!deadline) {
        return -1;
    }
    const auto left = *deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

WaitResult WaitForDevice(int deviceFd, short events, int wakeFd, const Deadline& deadline)
{
    constexpr short hangupEvents = POLLHUP | POLLERR | POLLNVAL;
    for (;;) {
        pollfd watched[2] = {{wakeFd, POLLIN, 0}, {deviceFd, events, 0}};
        const int ready = ::poll(watched, 2, PollTimeout(deadline));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return WaitResult::Failed;
        }
        if ((watched[0].revents & (POLLIN | hangupEvents)) != 0) {
            return WaitResult::Woken;
        }
        if ((watched[1].revents & hangupEvents) != 0) {
            return WaitResult::Hangup;
        }
        if ((watched[1].revents & events) != 0) {
            return WaitResult::Ready;
        }
        if (ready == 0 && deadline && Clock::now() >= *deadline) {
            return WaitResult::TimedOut;
        }
    }
}

}  // namespace platform::serial
