// The receive watch of an open port: whether a read would return at once, and
// a descriptor that says the same to poll(). The descriptor is an epoll set
// over the device and the input queue's signal, so the caller owns it outright:
// closing the port takes the device out of the set instead of leaving the
// caller a descriptor number that may be reused.
#include <sys/epoll.h>

#include <cerrno>

#include "drivers/serial/tty_port.h"
#include "platform/serial_rules/host_errors.h"

namespace platform::serial {
namespace {

bool Watch(int epoll, int fd)
{
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    return ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) == 0;
}

}  // namespace

DWORD TtyPort::CreateReceiveWatch(DWORD& descriptor)
{
    host::UniqueFd watch(::epoll_create1(EPOLL_CLOEXEC));
    if (!watch.valid()) {
        return serial_rules::IoErrorFromErrno(errno);
    }
    const int queued = received_.QueuedSignal();
    if (queued < 0) {
        return serial_rules::IoErrorFromErrno(errno);
    }
    // Level-triggered: readable for as long as data waits, in the device
    // (a hang-up included) or in the queue.
    if (!Watch(watch.get(), fd_.get()) || !Watch(watch.get(), queued)) {
        return serial_rules::IoErrorFromErrno(errno);
    }
    descriptor = static_cast<DWORD>(watch.release());
    return ERROR_SUCCESS;
}

DWORD TtyPort::ReceiveReady()
{
    return received_.ReadWouldReturn(fd_.get()) ? 1 : 0;
}

}  // namespace platform::serial
