// The DCB of a serial line and the tty settings (termios) that carry it out.
//
// What maps: BaudRate (any non-zero rate), ByteSize 5..8, Parity none, odd,
// even, mark and space (CMSPAR), fParity (input parity checking, INPCK),
// StopBits (one; one and a half, which is CSTOPB with 5 data bits; two),
// CTS/RTS handshake (CRTSCTS), XON/XOFF (IXON, IXOFF with XonChar, XoffChar)
// and the DTR and RTS lines. The other fields have no Linux equivalent; the
// caller keeps them so that GetCommState reports them as they were set.
// Which DCBs are valid is one of the rules in platform/serial_rules/dcb.h.
#pragma once

#include <termios.h>

#include "platform/comm.h"

namespace platform::serial {

// Sets the framing, parity and flow control of a valid DCB in `settings`,
// leaving the speed alone.
void ApplyDcb(const DCB& dcb, termios& settings);

// Puts the tty into raw 8-bit transparent mode (no echo, no CR/LF mapping,
// no signals, no flow control, CLOCAL|CREAD, VMIN = VTIME = 0), keeping its
// speed and stop bits, raises DTR and RTS, and describes the line in
// `initial`. Returns ERROR_SUCCESS or the error.
DWORD PrepareLine(int fd, DCB& initial);

// Carries out a valid DCB on the tty. On failure the previous settings are
// put back and the error is returned.
DWORD ConfigureLine(int fd, const DCB& dcb);

}  // namespace platform::serial
