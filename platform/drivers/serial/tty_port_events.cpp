// Comm events (SetCommMask, WaitCommEvent) and PurgeComm.
//
// EV_RXCHAR is reported while received data waits in the input queue, so a
// wait never misses data that came just before it. EV_RXFLAG is exact: the
// input is scanned for the DCB's EvtChar as it is moved into the queue while
// the mask holds EV_RXFLAG, and the event is reported once. EV_TXEMPTY is
// reported once after a write, when the kernel's output queue (TIOCOUTQ) has
// drained. The modem-line, break and error events are accepted in the mask
// but never reported.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>

#include "drivers/serial/device_wait.h"
#include "drivers/serial/tty_port.h"
#include "platform/host/interrupted_calls.h"
#include "platform/serial_rules/comm_flags.h"
#include "platform/serial_rules/host_errors.h"

namespace platform::serial {
namespace {

// No descriptor event says "output drained", so a wait for EV_TXEMPTY looks
// at the output queue this often.
constexpr auto drainCheckInterval = std::chrono::milliseconds(10);

constexpr DWORD receiveEvents = EV_RXCHAR | EV_RXFLAG;

int FlushOutput(int fd)
{
    return host::RetryOnInterrupt([fd] { return ::tcflush(fd, TCOFLUSH); }) == 0 ? 0 : errno;
}

}  // namespace

DWORD TtyPort::GetWaitMask() const
{
    std::lock_guard guard(lock_);
    return waitMask_;
}

// As on Windows, a new mask ends a WaitCommEvent in progress, which then
// succeeds with no events, and forgets the events seen under the old mask.
DWORD TtyPort::SetWaitMask(DWORD mask)
{
    if (!serial_rules::IsValidWaitMask(mask)) {
        return ERROR_INVALID_PARAMETER;
    }
    {
        std::lock_guard guard(lock_);
        waitMask_ = mask;
    }
    received_.ForgetEventChar();
    calls_.Wake({CallKind::WaitEvent}, WakeReason::MaskChanged);
    return ERROR_SUCCESS;
}

DWORD TtyPort::WaitOnMask(DWORD& events)
{
    events = 0;
    CallScope call(calls_, CallKind::WaitEvent);
    if (!call.entered()) {
        return ERROR_OPERATION_ABORTED;
    }
    // Read after entering, so that a mask set from now on ends this wait.
    const DWORD mask = GetWaitMask();
    if (mask == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    for (;;) {
        const ReceiveBuffer::PullResult pulled = PullInput();
        events = PendingEvents(mask);
        if (events != 0) {
            return ERROR_SUCCESS;
        }
        if (pulled.failed()) {
            return pulled.Failure();
        }
        const int wake = call.WakeDescriptor();
        if (wake < 0) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        // A full queue is not watched: nothing more can be taken in until a
        // read makes room, and the device would report input forever.
        const bool watchInput = (mask & receiveEvents) != 0 && !received_.full();
        const bool watchDrain = (mask & EV_TXEMPTY) != 0 && TransmitPending();
        const Deadline deadline = watchDrain ? Deadline(Clock::now() + drainCheckInterval) : std::nullopt;
        const WaitResult waited = WaitForDevice(fd_.get(), watchInput ? POLLIN : 0, wake, deadline);
        if (waited == WaitResult::Woken) {
            return call.reason() == WakeReason::MaskChanged ? ERROR_SUCCESS : ERROR_OPERATION_ABORTED;
        }
        if (waited == WaitResult::Failed) {
            return ERROR_GEN_FAILURE;
        }
    }
}

DWORD TtyPort::PendingEvents(DWORD mask)
{
    DWORD events = 0;
    if ((mask & EV_RXCHAR) != 0 && !received_.empty()) {
        events |= EV_RXCHAR;
    }
    if ((mask & EV_RXFLAG) != 0 && received_.TakeEventCharSeen()) {
        events |= EV_RXFLAG;
    }
    if ((mask & EV_TXEMPTY) != 0 && TransmitDrained()) {
        events |= EV_TXEMPTY;
    }
    return events;
}

bool TtyPort::TransmitPending() const
{
    std::lock_guard guard(lock_);
    return transmitPending_;
}

// True once after a write, when the output queue is empty. A tty that cannot
// tell its queue (ENOTTY, EINVAL) counts as drained.
bool TtyPort::TransmitDrained()
{
    std::lock_guard guard(lock_);
    if (!transmitPending_) {
        return false;
    }
    int queued = 0;
    if (::ioctl(fd_.get(), TIOCOUTQ, &queued) != 0 && errno != ENOTTY && errno != EINVAL) {
        return false;
    }
    if (queued > 0) {
        return false;
    }
    transmitPending_ = false;
    return true;
}

// The abort flags end the reads or writes in progress on this open (with
// ERROR_OPERATION_ABORTED, or with the bytes they already moved); the clear
// flags discard the input (the driver's queue and the kernel's) or the
// output that waits in the kernel.
DWORD TtyPort::Purge(DWORD flags)
{
    if (flags == 0 || !serial_rules::HasOnlyKnownPurgeFlags(flags)) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((flags & PURGE_TXABORT) != 0) {
        calls_.Wake({CallKind::Write}, WakeReason::Aborted);
    }
    if ((flags & PURGE_RXABORT) != 0) {
        calls_.Wake({CallKind::Read}, WakeReason::Aborted);
    }
    int error = 0;
    if ((flags & PURGE_TXCLEAR) != 0) {
        error = FlushOutput(fd_.get());
    }
    if (error == 0 && (flags & PURGE_RXCLEAR) != 0) {
        error = received_.Discard(fd_.get());
    }
    return serial_rules::IoErrorFromErrno(error);
}

}  // namespace platform::serial
