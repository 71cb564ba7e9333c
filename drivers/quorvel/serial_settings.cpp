#include "serial_settings.h"

namespace quorvel {
namespace {

bool IsValid(const DCB& dcb)
{
    return dcb.BaudRate != 0 && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 && dcb.Parity <= SPACEPARITY &&
           dcb.StopBits <= TWOSTOPBITS;
}

}  // namespace

// 115200 baud, 8 data bits, no parity, one stop bit, binary: what the system
// sets up anyway, with the usual XON/XOFF characters.
DCB SerialSettings::DefaultDcb()
{
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = CBR_115200;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

DCB SerialSettings::Dcb() const
{
    std::lock_guard lock(mutex_);
    return dcb_;
}

DWORD SerialSettings::SetDcb(const DCB& dcb)
{
    if (!IsValid(dcb)) {
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
    if ((mask & ~EV_ALL_EVENTS) != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard lock(mutex_);
    waitMask_ = mask;
    return ERROR_SUCCESS;
}

}  // namespace quorvel
