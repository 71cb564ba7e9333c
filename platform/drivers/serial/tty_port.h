// One open of a host serial device: the tty in raw mode, the DCB and the
// time-outs as last set, the event mask, the driver's input queue, and the
// calls in progress, so that PreClose, a purge or a new mask can end them.
//
// Any thread may use an open while another is blocked in it: a reader, a
// writer and a thread changing settings at the same time. The descriptor
// calls that can block (poll) run without a lock.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "drivers/serial/blocked_calls.h"
#include "drivers/serial/receive_buffer.h"
#include "platform/comm.h"
#include "platform/host/unique_fd.h"

namespace platform::serial {

// The outcome of a read or a write: the bytes moved, or the error.
struct IoResult {
    DWORD bytes = 0;
    DWORD error = ERROR_SUCCESS;
};

class TtyPort {
    struct Token {};   // only Open() constructs

public:
    // Opens the tty at hostPath, O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, and
    // prepares the line. Errors: ERROR_FILE_NOT_FOUND (missing or absent),
    // ERROR_ACCESS_DENIED (no permission, busy), ERROR_NOT_SUPPORTED (not a
    // tty). Returns null with the error set on failure.
    static std::shared_ptr<TtyPort> Open(const std::string& hostPath, DWORD& error);

    TtyPort(Token, host::UniqueFd fd, const DCB& initial, const COMM_DEVICE_IDENTITY& identity);
    // Clears the tty's exclusive mode before the descriptor closes.
    ~TtyPort();
    TtyPort(const TtyPort&) = delete;
    TtyPort& operator=(const TtyPort&) = delete;

    IoResult Read(BYTE* buffer, DWORD count);
    IoResult Write(const BYTE* data, DWORD count);

    DCB GetState() const;
    DWORD SetState(const DCB& dcb);
    COMMTIMEOUTS GetTimeouts() const;
    DWORD SetTimeouts(const COMMTIMEOUTS& timeouts);
    DWORD SetQueueSize(DWORD inQueue, DWORD outQueue);

    DWORD GetWaitMask() const;
    DWORD SetWaitMask(DWORD mask);
    DWORD WaitOnMask(DWORD& events);
    DWORD Purge(DWORD flags);

    // The receive watch (IOCTL_SERIAL_GET_RECEIVE_WATCH): a new descriptor,
    // which the caller owns, that polls readable exactly while ReceiveReady().
    DWORD CreateReceiveWatch(DWORD& descriptor);
    // 1 while a read would return at once with data or with a failure.
    DWORD ReceiveReady();

    // Who the device is, as it was when it was opened.
    const COMM_DEVICE_IDENTITY& identity() const { return identity_; }

    // Whether the open still takes calls (PreClose not yet called).
    bool IsUsable() const;
    // PreClose: every call blocked on this open returns at once with
    // ERROR_OPERATION_ABORTED, and later calls fail the same way.
    void PrepareToClose();

private:
    // Runs body(call) once the calls of its kind before it are done: the
    // turn is reading_ or writing_.
    template <typename Body>
    IoResult InTurn(CallKind kind, std::mutex& turn, Body body);
    IoResult ReadInTurn(CallScope& call, BYTE* buffer, DWORD count);
    IoResult WriteInTurn(CallScope& call, const BYTE* data, DWORD count);
    std::optional<BYTE> WatchedEventChar() const;
    ReceiveBuffer::PullResult PullInput();
    DWORD PendingEvents(DWORD mask);
    bool TransmitPending() const;
    bool TransmitDrained();
    void NoteTransmitted();

    const host::UniqueFd fd_;
    const COMM_DEVICE_IDENTITY identity_;
    BlockedCalls calls_;
    ReceiveBuffer received_;
    // Held across the tty calls, each by one call at a time: they order calls
    // of one kind, and no other call waits for them.
    std::mutex reading_;
    std::mutex writing_;
    std::mutex settingsChange_;

    mutable std::mutex lock_;     // guards what follows; never held across a blocking call
    DCB dcb_;
    COMMTIMEOUTS timeouts_{};     // a fresh open has no time-outs
    DWORD waitMask_ = 0;
    bool transmitPending_ = false;   // written since EV_TXEMPTY was last reported
};

}  // namespace platform::serial
