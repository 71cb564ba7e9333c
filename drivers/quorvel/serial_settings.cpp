#include "serial_settings.h"

#include "platform/serial_rules/comm_flags.h"
#include "platform/serial_rules/dcb.h"

namespace quorvel {

DCB SerialSettings::Dcb() const
{
    std::lock_guard lock(mutex_);
    return dcb_;
}

DWORD SerialSettings::SetDcb(const DCB& dcb)
{
    if (!platform::serial_rules::IsValidDcb(dcb)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard lock(mutex_);
    dcb_ = dcb;
    return ERROR_SUCCESS;
}

COMMTIMEOUTS SerialSettings::Timeouts() const
{
    std::lock_guard lock(mutex_);
    return timeouts_;
}

void SerialSettings::SetTimeouts(const COMMTIMEOUTS& timeouts)
{
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
}

DWORD SerialSettings::WaitMask() const
{
    std::lock_guard lock(mutex_);
    return waitMask_;
}

DWORD SerialSettings::SetWaitMask(DWORD mask)
{
    if (!platform::serial_rules::IsValidWaitMask(mask)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard lock(mutex_);
    waitMask_ = mask;
    return ERROR_SUCCESS;
}

}  // namespace quorvel
