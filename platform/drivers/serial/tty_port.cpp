// Opening a host tty, and the data path: reads served from the driver's input
// queue with the Win32 read time-outs, writes with the write time-out.
#include "drivers/serial/tty_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>

#include "drivers/serial/comm_timeouts.h"
#include "drivers/serial/device_identity.h"
#include "drivers/serial/device_wait.h"
#include "drivers/serial/line_settings.h"
#include "drivers/serial/own_port_check.h"
#include "drivers/serial/permission_advice.h"
#include "platform/host/interrupted_calls.h"
#include "platform/serial_rules/dcb.h"
#include "platform/serial_rules/host_errors.h"

namespace platform::serial {
namespace {

IoResult Moved(DWORD bytes)
{
    return IoResult{bytes, ERROR_SUCCESS};
}

IoResult Failed(DWORD error)
{
    return IoResult{0, error};
}

// A call that ends early with bytes already moved reports them: failing
// would lose data that was read, or make the caller send again what was
// written.
IoResult MovedOrFailed(DWORD bytes, DWORD error)
{
    return bytes > 0 ? Moved(bytes) : Failed(error);
}

// A wait ended by another thread: PreClose fails the call, a purge ends it
// with what it has moved so far.
IoResult EndedByWake(WakeReason reason, DWORD bytes)
{
    return reason == WakeReason::Closing ? Failed(ERROR_OPERATION_ABORTED)
                                         : MovedOrFailed(bytes, ERROR_OPERATION_ABORTED);
}

int OpenDevice(const std::string& hostPath)
{
    return host::RetryOnInterrupt([&] { return ::open(hostPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
}

// Only character devices are opened at all, so that a wrong path (a FIFO, a
// disk) is refused without side effects; isatty() then rules out the rest.
DWORD CheckDeviceNode(const std::string& hostPath)
{
    struct stat node {};
    if (::stat(hostPath.c_str(), &node) != 0) {
        return serial_rules::OpenErrorFromErrno(errno);
    }
    return S_ISCHR(node.st_mode) ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
}

}  // namespace

std::shared_ptr<TtyPort> TtyPort::Open(const std::string& hostPath, DWORD& error)
{
    error = CheckDeviceNode(hostPath);
    if (error != ERROR_SUCCESS) {
        return nullptr;
    }
    host::UniqueFd fd(OpenDevice(hostPath));
    if (!fd.valid()) {
        const int refusal = errno;
        SayPermissionAdvice(hostPath, refusal);
        error = serial_rules::OpenErrorFromErrno(refusal);
        return nullptr;
    }
    if (error = RefuseOwnEndpoint(fd.get()); error != ERROR_SUCCESS) {
        return nullptr;
    }
    if (::isatty(fd.get()) == 0) {
        error = ERROR_NOT_SUPPORTED;
        return nullptr;
    }
    DCB initial{};
    error = PrepareLine(fd.get(), initial);
    if (error != ERROR_SUCCESS) {
        return nullptr;
    }
    const COMM_DEVICE_IDENTITY identity = IdentifyOpenDevice(fd.get(), hostPath);
    auto port = std::make_shared<TtyPort>(Token{}, std::move(fd), initial, identity);
    // A COM port is exclusive: other programs (a modem prober, say) may not
    // open the tty while we hold it. Root is not held back; that is fine.
    // Set only once the port exists, whose end clears it again.
    ::ioctl(port->fd_.get(), TIOCEXCL);
    return port;
}

TtyPort::TtyPort(Token, host::UniqueFd fd, const DCB& initial, const COMM_DEVICE_IDENTITY& identity)
    : fd_(std::move(fd)), identity_(identity), dcb_(initial)
{
}

// The exclusive mode belongs to the tty, not to this descriptor: on a tty that
// outlives the open (a pseudo-terminal whose master another program holds) it
// would keep every later open by anyone but root out with EBUSY. Every way an
// open ends (Close, the device gone, its deactivation) ends here. On a device
// that has gone the call fails, and nothing is left to clear.
TtyPort::~TtyPort()
{
    ::ioctl(fd_.get(), TIOCNXCL);
}

// The call registers first, so that PreClose or a purge ends it also while it
// waits for its turn.
template <typename Body>
IoResult TtyPort::InTurn(CallKind kind, std::mutex& turn, Body body)
{
    CallScope call(calls_, kind);
    if (!call.entered()) {
        return Failed(ERROR_OPERATION_ABORTED);
    }
    std::lock_guard inTurn(turn);
    if (const WakeReason reason = call.reason(); reason != WakeReason::None) {
        return EndedByWake(reason, 0);
    }
    return body(call);
}

// Reads are served one after the other, as Windows queues them; two readers
// looking at the queue at once could each leave the other asleep on bytes
// already taken in.
IoResult TtyPort::Read(BYTE* buffer, DWORD count)
{
    return InTurn(CallKind::Read, reading_, [&](CallScope& call) { return ReadInTurn(call, buffer, count); });
}

// One write at a time, so that the bytes of two writes never interleave.
IoResult TtyPort::Write(const BYTE* data, DWORD count)
{
    return InTurn(CallKind::Write, writing_, [&](CallScope& call) { return WriteInTurn(call, data, count); });
}

IoResult TtyPort::ReadInTurn(CallScope& call, BYTE* buffer, DWORD count)
{
    ReadTimer timer(GetTimeouts(), count, Clock::now());
    DWORD got = 0;
    for (;;) {
        const ReceiveBuffer::ReadResult pulled = received_.Read(fd_.get(), buffer + got, count - got, WatchedEventChar());
        got += pulled.bytes;
        if (got == count) {
            return Moved(got);
        }
        // The queue is empty now: what was there before the device went away
        // has been delivered.
        if (pulled.failed()) {
            return MovedOrFailed(got, pulled.Failure());
        }
        const ReadTimer::Step step = timer.Next(got, Clock::now());
        if (step.over) {
            return Moved(got);
        }
        const int wake = call.WakeDescriptor();
        if (wake < 0) {
            return MovedOrFailed(got, ERROR_NOT_ENOUGH_MEMORY);
        }
        const WaitResult waited = WaitForDevice(fd_.get(), POLLIN, wake, step.deadline);
        if (waited == WaitResult::Woken) {
            return EndedByWake(call.reason(), got);
        }
        if (waited == WaitResult::Failed) {
            return MovedOrFailed(got, ERROR_GEN_FAILURE);
        }
        // Ready, hung up or timed out: the next look at the input tells.
    }
}

IoResult TtyPort::WriteInTurn(CallScope& call, const BYTE* data, DWORD count)
{
    const Deadline deadline = WriteDeadline(GetTimeouts(), count, Clock::now());
    DWORD written = 0;
    while (written < count) {
        const ssize_t sent =
            host::RetryOnInterrupt([&] { return ::write(fd_.get(), data + written, count - written); });
        if (sent > 0) {
            written += static_cast<DWORD>(sent);
            NoteTransmitted();
            continue;
        }
        if (sent < 0 && errno != EAGAIN) {
            return MovedOrFailed(written, serial_rules::IoErrorFromErrno(errno));
        }
        // The output buffer is full: wait for room.
        if (deadline && Clock::now() >= *deadline) {
            return Moved(written);   // timed out: the short count, as Windows reports it
        }
        const int wake = call.WakeDescriptor();
        if (wake < 0) {
            return MovedOrFailed(written, ERROR_NOT_ENOUGH_MEMORY);
        }
        switch (WaitForDevice(fd_.get(), POLLOUT, wake, deadline)) {
        case WaitResult::Woken:
            return EndedByWake(call.reason(), written);
        case WaitResult::Hangup:
            return MovedOrFailed(written, ERROR_DEVICE_REMOVED);
        case WaitResult::Failed:
            return MovedOrFailed(written, ERROR_GEN_FAILURE);
        case WaitResult::Ready:
        case WaitResult::TimedOut:
            break;
        }
    }
    return Moved(written);
}

DCB TtyPort::GetState() const
{
    std::lock_guard guard(lock_);
    return dcb_;
}

DWORD TtyPort::SetState(const DCB& dcb)
{
    if (!serial_rules::IsValidDcb(dcb)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard change(settingsChange_);
    if (const DWORD error = ConfigureLine(fd_.get(), dcb); error != ERROR_SUCCESS) {
        return error;
    }
    std::lock_guard guard(lock_);
    dcb_ = dcb;
    dcb_.DCBlength = sizeof(DCB);
    return ERROR_SUCCESS;
}

COMMTIMEOUTS TtyPort::GetTimeouts() const
{
    std::lock_guard guard(lock_);
    return timeouts_;
}

DWORD TtyPort::SetTimeouts(const COMMTIMEOUTS& timeouts)
{
    if (!AreValidTimeouts(timeouts)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard guard(lock_);
    timeouts_ = timeouts;
    return ERROR_SUCCESS;
}

// SetupComm: the input size can enlarge the driver's input queue; the output
// size has no host equivalent (the kernel's buffer is what it is).
DWORD TtyPort::SetQueueSize(DWORD inQueue, DWORD /*outQueue*/)
{
    received_.SetRequestedSize(inQueue);
    return ERROR_SUCCESS;
}

bool TtyPort::IsUsable() const
{
    return !calls_.closing();
}

void TtyPort::PrepareToClose()
{
    calls_.Close();
}

std::optional<BYTE> TtyPort::WatchedEventChar() const
{
    std::lock_guard guard(lock_);
    if ((waitMask_ & EV_RXFLAG) == 0) {
        return std::nullopt;
    }
    return static_cast<BYTE>(dcb_.EvtChar);
}

ReceiveBuffer::PullResult TtyPort::PullInput()
{
    return received_.Pull(fd_.get(), WatchedEventChar());
}

void TtyPort::NoteTransmitted()
{
    std::lock_guard guard(lock_);
    transmitPending_ = true;
}

}  // namespace platform::serial
