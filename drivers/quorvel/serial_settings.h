// What a serial port remembers of the comm calls: its DCB, time-outs and event
// mask. A virtual port has no line to set up, so the values are only kept and
// reported back; they are checked as a real port would check them.
#pragma once

#include <mutex>

#include "platform/comm.h"

namespace quorvel {

class SerialSettings {
public:
    DCB Dcb() const;
    // ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for values no port could take
    // (then the DCB is left as it was).
    DWORD SetDcb(const DCB& dcb);

    COMMTIMEOUTS Timeouts() const;
    void SetTimeouts(const COMMTIMEOUTS& timeouts);

    DWORD WaitMask() const;
    // ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for bits that name no event.
    DWORD SetWaitMask(DWORD mask);

private:
    mutable std::mutex mutex_;
    DCB dcb_ = DefaultDcb();
    COMMTIMEOUTS timeouts_{};
    DWORD waitMask_ = 0;

    static DCB DefaultDcb();
};

}  // namespace quorvel
