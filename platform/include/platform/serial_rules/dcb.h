// The DCB that every serial driver starts a port with, and the DCBs that
// SetCommState accepts. Both drivers (the built-in one over termios and the
// virtual port module) take these from here, so that a program sees the same
// port settings and the same refusals whichever kind of port it opened.
#pragma once

#include "platform/comm.h"

namespace platform::serial_rules {

inline constexpr char defaultXonChar = 0x11;    // DC1
inline constexpr char defaultXoffChar = 0x13;   // DC3
// Windows' usual limits; no host driver has an equivalent, so they are only
// reported back.
inline constexpr WORD defaultXonLimit = 2048;
inline constexpr WORD defaultXoffLimit = 512;

// A port nobody has set up yet: the given rate, 8 data bits, no parity, one
// stop bit, binary, DTR and RTS raised, no flow control, the usual XON/XOFF
// characters and limits, every other field 0.
constexpr DCB DefaultDcb(DWORD baudRate)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = baudRate;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = defaultXonLimit;
    dcb.XoffLim = defaultXoffLimit;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = defaultXonChar;
    dcb.XoffChar = defaultXoffChar;
    return dcb;
}

// One and a half stop bits exist only for 5 data bits, and two never with 5.
constexpr bool IsValidStopBits(BYTE stopBits, BYTE byteSize)
{
    switch (stopBits) {
    case ONESTOPBIT:
        return true;
    case ONE5STOPBITS:
        return byteSize == 5;
    case TWOSTOPBITS:
        return byteSize != 5;
    default:
        return false;
    }
}

// Whether SetCommState accepts the DCB, with the rules of Windows: a non-zero
// rate; 5 to 8 data bits; a known parity; stop bits that go with the data
// bits; a known DTR mode; XonChar different from XoffChar. A refused DCB
// fails with ERROR_INVALID_PARAMETER and changes nothing.
constexpr bool IsValidDcb(const DCB& dcb)
{
    return dcb.BaudRate != 0 && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 && dcb.Parity <= SPACEPARITY &&
           IsValidStopBits(dcb.StopBits, dcb.ByteSize) && dcb.fDtrControl <= DTR_CONTROL_HANDSHAKE &&
           dcb.XonChar != dcb.XoffChar;
}

static_assert(IsValidDcb(DefaultDcb(CBR_9600)), "a port must be able to take back its own starting DCB");

}  // namespace platform::serial_rules
