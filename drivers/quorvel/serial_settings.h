// What a serial port remembers of the comm calls: its DCB, time-outs and event
// mask. A virtual port has no line to set up, so the values are only kept and
// reported back; they start and are checked as on every serial port
// (platform/serial_rules).
#pragma once

#include <mutex>

#include "platform/comm.h"
#include "platform/serial_rules/dcb.h"

namespace quorvel {

class SerialSettings {
public:
    DCB Dcb() const;
    // ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for a DCB that SetCommState
    // refuses (then the DCB is left as it was).
    DWORD SetDcb(const DCB& dcb);

    COMMTIMEOUTS Timeouts() const;
    void SetTimeouts(const COMMTIMEOUTS& timeouts);

    DWORD WaitMask() const;
    // ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for bits that name no event.
    DWORD SetWaitMask(DWORD mask);

private:
    mutable std::mutex mutex_;
    // The rate the system sets its outputs up with anyway.
    DCB dcb_ = platform::serial_rules::DefaultDcb(CBR_115200);
    COMMTIMEOUTS timeouts_{};
    DWORD waitMask_ = 0;
};

}  // namespace quorvel
