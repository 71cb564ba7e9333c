// The calls in progress on one open device, so that another thread can end
// their waits: PreClose ends every call (and refuses new ones), a purge ends
// the reads or the writes, a new event mask ends the event waits.
//
// Each call that has to block gets a wake-up descriptor (an eventfd) of its
// own for its poll set. One shared descriptor would not do: the first waiter
// to drain it could leave another waiter asleep.
#pragma once

#include <initializer_list>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/host/wake_signal.h"

namespace platform::serial {

enum class CallKind { Read, Write, WaitEvent };

enum class WakeReason {
    None,
    Closing,       // PreClose: fail with ERROR_OPERATION_ABORTED
    Aborted,       // PURGE_RXABORT / PURGE_TXABORT
    MaskChanged,   // SetCommMask during WaitCommEvent: succeed with no events
};

class BlockedCalls;

// Registers a call for its lifetime. Not entered once the open is closing.
class CallScope {
public:
    CallScope(BlockedCalls& calls, CallKind kind);
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

    bool entered() const { return entered_; }
    // The descriptor to poll: readable once the call is asked to stop. Made
    // on first use, so calls that never block never make one. -1 when the
    // host has no descriptor left.
    int WakeDescriptor();
    WakeReason reason() const;

private:
    friend class BlockedCalls;
    void Signal(WakeReason reason);   // owner's lock held

    BlockedCalls& calls_;
    const CallKind kind_;
    bool entered_ = false;
    WakeReason reason_ = WakeReason::None;   // guarded by the owner's lock
    std::optional<host::WakeSignal> wake_;   // guarded by the owner's lock
};

class BlockedCalls {
public:
    BlockedCalls() = default;
    BlockedCalls(const BlockedCalls&) = delete;
    BlockedCalls& operator=(const BlockedCalls&) = delete;

    // Ends the waits of the calls of the given kinds that are in progress.
    void Wake(std::initializer_list<CallKind> kinds, WakeReason reason);
    // Ends every call in progress and refuses the calls that come later.
    void Close();
    bool closing() const;

private:
    friend class CallScope;

    mutable std::mutex lock_;
    bool closing_ = false;              // guarded by lock_
    std::vector<CallScope*> active_;    // guarded by lock_
};

}  // namespace platform::serial
