// Files on stream devices ("COM5:") and the serial communication calls, with
// the published structures and constants.
#pragma once

#include "platform/errors.h"
#include "platform/types.h"

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;

inline constexpr DWORD CBR_110 = 110;
inline constexpr DWORD CBR_300 = 300;
inline constexpr DWORD CBR_600 = 600;
inline constexpr DWORD CBR_1200 = 1200;
inline constexpr DWORD CBR_2400 = 2400;
inline constexpr DWORD CBR_4800 = 4800;
inline constexpr DWORD CBR_9600 = 9600;
inline constexpr DWORD CBR_14400 = 14400;
inline constexpr DWORD CBR_19200 = 19200;
inline constexpr DWORD CBR_38400 = 38400;
inline constexpr DWORD CBR_56000 = 56000;
inline constexpr DWORD CBR_57600 = 57600;
inline constexpr DWORD CBR_115200 = 115200;
inline constexpr DWORD CBR_128000 = 128000;
inline constexpr DWORD CBR_256000 = 256000;

inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ODDPARITY = 1;
inline constexpr BYTE EVENPARITY = 2;
inline constexpr BYTE MARKPARITY = 3;
inline constexpr BYTE SPACEPARITY = 4;

inline constexpr BYTE ONESTOPBIT = 0;
inline constexpr BYTE ONE5STOPBITS = 1;
inline constexpr BYTE TWOSTOPBITS = 2;

inline constexpr DWORD DTR_CONTROL_DISABLE = 0;
inline constexpr DWORD DTR_CONTROL_ENABLE = 1;
inline constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_DISABLE = 0;
inline constexpr DWORD RTS_CONTROL_ENABLE = 1;
inline constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_TOGGLE = 3;

inline constexpr DWORD EV_RXCHAR = 0x0001;
inline constexpr DWORD EV_RXFLAG = 0x0002;
inline constexpr DWORD EV_TXEMPTY = 0x0004;
inline constexpr DWORD EV_CTS = 0x0008;
inline constexpr DWORD EV_DSR = 0x0010;
inline constexpr DWORD EV_RLSD = 0x0020;
inline constexpr DWORD EV_BREAK = 0x0040;
inline constexpr DWORD EV_ERR = 0x0080;
inline constexpr DWORD EV_RING = 0x0100;
inline constexpr DWORD EV_ALL_EVENTS = 0x01FF;

inline constexpr DWORD PURGE_TXABORT = 0x0001;
inline constexpr DWORD PURGE_RXABORT = 0x0002;
inline constexpr DWORD PURGE_TXCLEAR = 0x0004;
inline constexpr DWORD PURGE_RXCLEAR = 0x0008;

// The device control block, laid out as published (28 bytes).
struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};
static_assert(sizeof(DCB) == 28, "DCB must keep its published size");
using LPDCB = DCB*;

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};
using LPCOMMTIMEOUTS = COMMTIMEOUTS*;

// The state of a port's queues, as ClearCommError reports it. The hold flags
// tell why transmission waits; a driver that keeps none reports them 0.
struct COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;    // bytes received and not yet read
    DWORD cbOutQue;   // bytes written and not yet sent on the line
};
static_assert(sizeof(COMSTAT) == 12, "COMSTAT must keep its published size");
using LPCOMSTAT = COMSTAT*;

// Who the device behind a serial port is, as far as the host can tell: a
// platform extension, so that a program that lost a port can tell whether
// what has the port's name now is the device it had (a receiver plugged in
// again) or another one (a second adapter, another program's terminal). A
// program keeps the record it was given and hands it back; the host fills it.
inline constexpr DWORD COMM_IDENTITY_USB = 0x1;               // the USB fields hold the device's identity
inline constexpr DWORD COMM_IDENTITY_PSEUDO_TERMINAL = 0x2;   // a pseudo-terminal, whose number any new terminal may get
inline constexpr DWORD COMM_IDENTITY_THROUGH_LINK = 0x4;      // the port's name is a link to the device

struct COMM_DEVICE_IDENTITY {
    DWORD flags;              // COMM_IDENTITY_ flags
    DWORD owner;              // the host user that owns the device
    ULONGLONG deviceNumber;   // the host's number of the device
    ULONGLONG linkNumber;     // through a link: the link's own file number
    ULONGLONG linkChanged;    // and when it was made or last changed, in ns
    WORD usbVendor;
    WORD usbProduct;
    char usbSerial[128];      // terminated; empty for a device without a serial number
    char usbPort[32];         // terminated; where on the USB it is plugged in (bus and ports)
};
static_assert(sizeof(COMM_DEVICE_IDENTITY) == 200, "COMM_DEVICE_IDENTITY must keep its size");
using LPCOMM_DEVICE_IDENTITY = COMM_DEVICE_IDENTITY*;

// How what was found compares with a device remembered (CompareCommDeviceIdentity,
// CompareDeviceIdentity): the same device, or why it is taken for another.
inline constexpr DWORD COMM_DEVICE_SAME = 0;
// A pseudo-terminal named by its own number: the number goes to whichever
// terminal opens next, so nothing tells that it is the one that went away.
inline constexpr DWORD COMM_DEVICE_PSEUDO_TERMINAL_BY_NUMBER = 1;
inline constexpr DWORD COMM_DEVICE_OTHER_USB_DEVICE = 2;   // another vendor, product or serial number
inline constexpr DWORD COMM_DEVICE_OTHER_DEVICE = 3;       // another device number, or no longer a link
inline constexpr DWORD COMM_DEVICE_OTHER_OWNER = 4;        // it belongs to another user
// The link was not made anew and still leads to the pseudo-terminal's
// number, which another terminal may have by now.
inline constexpr DWORD COMM_DEVICE_STALE_LINK = 5;

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES attributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped);

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
BOOL GetCommState(HANDLE file, LPDCB dcb);
BOOL SetCommState(HANDLE file, LPDCB dcb);
BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL SetCommMask(HANDLE file, DWORD eventMask);
BOOL GetCommMask(HANDLE file, LPDWORD eventMask);
BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped);
// A platform extension beside WaitCommEvent, for waiting on received data
// together with other objects: a waitable object, signalled while a read on
// the port would return at once with data, or with a failure (the device
// went away, the port's handle was closed). A wait does not change it; a read
// that takes everything does. Close it with CloseHandle. Null, with the last
// error set, when the port's driver cannot tell (ERROR_INVALID_FUNCTION or
// ERROR_NOT_SUPPORTED), or for a handle that is no port.
HANDLE CreateCommReceiveEvent(HANDLE file);
// The identity of the device that the port `file` holds, taken when it was
// opened. FALSE with ERROR_INVALID_FUNCTION or ERROR_NOT_SUPPORTED when its
// driver cannot tell.
BOOL GetCommDeviceIdentity(HANDLE file, LPCOMM_DEVICE_IDENTITY identity);
// How the device that the port `file` holds compares with `remembered`: a
// COMM_DEVICE_ verdict in `verdict`. Fails as GetCommDeviceIdentity does.
BOOL CompareCommDeviceIdentity(HANDLE file, const COMM_DEVICE_IDENTITY* remembered, LPDWORD verdict);
BOOL PurgeComm(HANDLE file, DWORD flags);
// The line errors (CE_ flags) since the last call, which clears them, and the
// queues' state; either pointer may be null. Fails with ERROR_INVALID_FUNCTION
// or ERROR_NOT_SUPPORTED when the port's driver cannot tell.
BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT stat);
