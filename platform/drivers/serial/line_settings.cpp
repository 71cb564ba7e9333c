#include "drivers/serial/line_settings.h"

#include <sys/ioctl.h>

#include <cerrno>

#include "drivers/serial/line_speed.h"
#include "platform/host/interrupted_calls.h"
#include "platform/serial_rules/dcb.h"
#include "platform/serial_rules/host_errors.h"

namespace platform::serial {
namespace {

// A line that reads speed 0 (B0, "hang up") is unusable; it starts at the
// rate Windows gives a port.
constexpr DWORD fallbackBaudRate = CBR_9600;

constexpr tcflag_t framingFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

int GetAttributes(int fd, termios& settings)
{
    return host::RetryOnInterrupt([&] { return ::tcgetattr(fd, &settings); }) == 0 ? 0 : errno;
}

int SetAttributes(int fd, const termios& settings)
{
    return host::RetryOnInterrupt([&] { return ::tcsetattr(fd, TCSANOW, &settings); }) == 0 ? 0 : errno;
}

// Reads the tty's settings and speed. Returns 0 or an errno.
int ReadLine(int fd, termios& settings, DWORD& baudRate)
{
    if (const int error = GetAttributes(fd, settings); error != 0) {
        return error;
    }
    const LineSpeed speed = GetLineSpeed(fd);
    baudRate = speed.baud;
    return speed.error;
}

tcflag_t CharacterSizeFlag(BYTE byteSize)
{
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

BYTE ByteSizeOf(tcflag_t cflag)
{
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

tcflag_t ParityFlags(BYTE parity)
{
    switch (parity) {
    case ODDPARITY:
        return PARENB | PARODD;
    case EVENPARITY:
        return PARENB;
    case MARKPARITY:
        return PARENB | CMSPAR | PARODD;
    case SPACEPARITY:
        return PARENB | CMSPAR;
    default:
        return 0;
    }
}

BYTE ParityOf(tcflag_t cflag)
{
    if ((cflag & PARENB) == 0) {
        return NOPARITY;
    }
    const bool odd = (cflag & PARODD) != 0;
    if ((cflag & CMSPAR) != 0) {
        return odd ? MARKPARITY : SPACEPARITY;
    }
    return odd ? ODDPARITY : EVENPARITY;
}

void MakeTransparent(termios& settings)
{
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC |
                                                IXON | IXOFF | IXANY | INPCK | IMAXBEL);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT | ECHOKE | ICANON |
                                                ISIG | IEXTEN | XCASE);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    settings.c_cc[VSTART] = static_cast<cc_t>(serial_rules::defaultXonChar);
    settings.c_cc[VSTOP] = static_cast<cc_t>(serial_rules::defaultXoffChar);
}

// The line as a DCB: the default DCB with what the tty says of its framing
// and flow control. DTR and RTS were just raised.
DCB DescribeLine(const termios& settings, DWORD baudRate)
{
    DCB dcb = serial_rules::DefaultDcb(baudRate);
    dcb.fParity = (settings.c_iflag & INPCK) != 0;
    dcb.fOutxCtsFlow = (settings.c_cflag & CRTSCTS) != 0;
    if ((settings.c_cflag & CRTSCTS) != 0) {
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    }
    dcb.fOutX = (settings.c_iflag & IXON) != 0;
    dcb.fInX = (settings.c_iflag & IXOFF) != 0;
    dcb.ByteSize = ByteSizeOf(settings.c_cflag);
    dcb.Parity = ParityOf(settings.c_cflag);
    const bool longStop = (settings.c_cflag & CSTOPB) != 0;
    dcb.StopBits = !longStop ? ONESTOPBIT : dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    dcb.XonChar = static_cast<char>(settings.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(settings.c_cc[VSTOP]);
    return dcb;
}

// Ptys have no modem lines: ENOTTY and EINVAL there are not failures.
int SetModemLine(int fd, int line, bool raised)
{
    if (host::RetryOnInterrupt([&] { return ::ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &line); }) == 0 ||
        errno == ENOTTY || errno == EINVAL) {
        return 0;
    }
    return errno;
}

// DTR is up unless disabled (DTR handshake has no Linux equivalent). RTS
// follows its mode; under RTS handshake CRTSCTS drives it, and RTS toggle
// (RS-485 direction control) leaves it alone.
int SetModemLines(int fd, const DCB& dcb)
{
    if (const int error = SetModemLine(fd, TIOCM_DTR, dcb.fDtrControl != DTR_CONTROL_DISABLE); error != 0) {
        return error;
    }
    if (dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
        return 0;
    }
    return SetModemLine(fd, TIOCM_RTS, dcb.fRtsControl != RTS_CONTROL_DISABLE);
}

}  // namespace

void ApplyDcb(const DCB& dcb, termios& settings)
{
    settings.c_cflag &= ~framingFlags;
    settings.c_cflag |= CharacterSizeFlag(dcb.ByteSize) | ParityFlags(dcb.Parity) | CLOCAL | CREAD;
    if (dcb.StopBits != ONESTOPBIT) {
        settings.c_cflag |= CSTOPB;
    }
    if (dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        settings.c_cflag |= CRTSCTS;
    }
    settings.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF);
    if (dcb.fParity != 0) {
        settings.c_iflag |= INPCK;
    }
    if (dcb.fOutX != 0) {
        settings.c_iflag |= IXON;
    }
    if (dcb.fInX != 0) {
        settings.c_iflag |= IXOFF;
    }
    settings.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    settings.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
}

DWORD PrepareLine(int fd, DCB& initial)
{
    termios settings{};
    DWORD baudRate = 0;
    int error = ReadLine(fd, settings, baudRate);
    if (error == 0) {
        MakeTransparent(settings);
        error = SetAttributes(fd, settings);
    }
    if (error == 0 && baudRate == 0) {
        baudRate = fallbackBaudRate;
        error = SetLineSpeed(fd, baudRate);
    }
    if (error == 0) {
        initial = DescribeLine(settings, baudRate);
        error = SetModemLines(fd, initial);
    }
    return serial_rules::IoErrorFromErrno(error);
}

DWORD ConfigureLine(int fd, const DCB& dcb)
{
    termios before{};
    DWORD baudBefore = 0;
    if (const int error = ReadLine(fd, before, baudBefore); error != 0) {
        return serial_rules::IoErrorFromErrno(error);
    }
    termios after = before;
    ApplyDcb(dcb, after);
    int error = SetAttributes(fd, after);
    if (error == 0) {
        error = SetLineSpeed(fd, dcb.BaudRate);
    }
    if (error == 0) {
        error = SetModemLines(fd, dcb);
    }
    if (error != 0) {
        SetAttributes(fd, before);
        SetLineSpeed(fd, baudBefore);
        return serial_rules::IoErrorFromErrno(error);
    }
    return ERROR_SUCCESS;
}

}  // namespace platform::serial
