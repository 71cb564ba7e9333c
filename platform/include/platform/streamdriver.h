// The stream-driver interface between the device manager and a driver module.
//
// A module exports its entry points under the "Prefix" of its driver key, as on
// the device: COM_Init, COM_Deinit, COM_Open, COM_Close, COM_Read, COM_Write,
// COM_IOControl and, optionally, COM_PreClose. It needs nothing from the
// platform but what it is handed in Init, so it can be built and loaded on its
// own. The comm calls (GetCommState, SetCommMask, ...) reach the driver as the
// serial I/O controls below.
#pragma once

#include <cstddef>

#include "platform/comm.h"
#include "platform/types.h"

extern "C" {

// What the device manager hands a new instance.
struct DEVICE_HOST {
    DWORD cbSize;
    DWORD deviceIndex;                 // the key's "Index", the number in "COM5:"
    const WCHAR* registryPath;         // the driver key, relative to HKEY_LOCAL_MACHINE
    const char* nodeFolder;            // host folder in which a driver may publish links to its endpoints
    void (*SetLastError)(DWORD error);   // the calling thread's last error
    void (*DebugOutput)(const WCHAR* text);
    // Reads a value of the driver key; the result and sizes are RegQueryValueExW's.
    LONG (*QueryValue)(const WCHAR* registryPath, const WCHAR* name, DWORD* type, BYTE* data, DWORD* size);
    // Fields added later: a driver reads one only when cbSize covers it.
    // The host group (UTF-8 name) to give the endpoints to, so that a service of
    // that group may open them; null or empty: leave their modes as they are.
    const char* portGroup;
};

// Whether the host that handed over `host` knows `field` (an older one is shorter).
#define DEVICE_HOST_HAS(host, field) \
    ((host).cbSize >= offsetof(DEVICE_HOST, field) + sizeof(DEVICE_HOST::field))

using DRIVER_CONTEXT = DWORD_PTR;      // 0 is failure for Init and Open
inline constexpr DWORD DRIVER_TRANSFER_FAILED = static_cast<DWORD>(-1);

using PFN_DRIVER_INIT = DRIVER_CONTEXT (*)(const WCHAR* registryPath, const DEVICE_HOST* host);
using PFN_DRIVER_DEINIT = BOOL (*)(DRIVER_CONTEXT device);
using PFN_DRIVER_OPEN = DRIVER_CONTEXT (*)(DRIVER_CONTEXT device, DWORD access, DWORD shareMode);
using PFN_DRIVER_CLOSE = BOOL (*)(DRIVER_CONTEXT open);
// Wakes every call blocked on the open context; Close follows once they returned.
using PFN_DRIVER_PRECLOSE = BOOL (*)(DRIVER_CONTEXT open);
// Read and Write return the bytes moved, or DRIVER_TRANSFER_FAILED after
// setting the last error.
using PFN_DRIVER_READ = DWORD (*)(DRIVER_CONTEXT open, void* buffer, DWORD count);
using PFN_DRIVER_WRITE = DWORD (*)(DRIVER_CONTEXT open, const void* buffer, DWORD count);
using PFN_DRIVER_IOCONTROL = BOOL (*)(DRIVER_CONTEXT open, DWORD code, const BYTE* in, DWORD inSize, BYTE* out,
                                      DWORD outSize, DWORD* outActual);

}  // extern "C"

struct STREAM_DRIVER_ENTRIES {
    PFN_DRIVER_INIT Init;
    PFN_DRIVER_DEINIT Deinit;
    PFN_DRIVER_OPEN Open;
    PFN_DRIVER_CLOSE Close;
    PFN_DRIVER_PRECLOSE PreClose;   // may be null
    PFN_DRIVER_READ Read;
    PFN_DRIVER_WRITE Write;
    PFN_DRIVER_IOCONTROL IOControl;
};

constexpr DWORD CTL_CODE(DWORD deviceType, DWORD function, DWORD method, DWORD access)
{
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
inline constexpr DWORD FILE_DEVICE_SERIAL_PORT = 0x1B;
inline constexpr DWORD METHOD_BUFFERED = 0;
inline constexpr DWORD FILE_ANY_ACCESS = 0;

constexpr DWORD SerialControl(DWORD function)
{
    return CTL_CODE(FILE_DEVICE_SERIAL_PORT, function, METHOD_BUFFERED, FILE_ANY_ACCESS);
}
// in: two DWORDs, input and output queue sizes
inline constexpr DWORD IOCTL_SERIAL_SET_QUEUE_SIZE = SerialControl(2);
// in / out: COMMTIMEOUTS
inline constexpr DWORD IOCTL_SERIAL_SET_TIMEOUTS = SerialControl(7);
inline constexpr DWORD IOCTL_SERIAL_GET_TIMEOUTS = SerialControl(8);
// in / out: one DWORD event mask
inline constexpr DWORD IOCTL_SERIAL_GET_WAIT_MASK = SerialControl(16);
inline constexpr DWORD IOCTL_SERIAL_SET_WAIT_MASK = SerialControl(17);
// out: the DWORD of events that ended the wait
inline constexpr DWORD IOCTL_SERIAL_WAIT_ON_MASK = SerialControl(18);
// out: SERIAL_DEV_STATUS
inline constexpr DWORD IOCTL_SERIAL_GET_COMMSTATUS = SerialControl(27);
// in: one DWORD of PURGE_ flags
inline constexpr DWORD IOCTL_SERIAL_PURGE = SerialControl(19);
// in / out: DCB
inline constexpr DWORD IOCTL_SERIAL_GET_DCB = SerialControl(30);
inline constexpr DWORD IOCTL_SERIAL_SET_DCB = SerialControl(31);

// What IOCTL_SERIAL_GET_COMMSTATUS reports: the line errors since the last
// time it was asked (asking clears them) and the queues.
struct SERIAL_DEV_STATUS {
    DWORD Errors;
    COMSTAT ComStat;
};

// The platform's own serial controls (functions from 0x800 up are free for
// vendors), behind CreateCommReceiveEvent. A driver offers both or neither.
// out: one DWORD, a host descriptor that the caller then owns and closes. It
// polls readable exactly while a read would return at once with data, or
// with a failure (the device went away).
inline constexpr DWORD IOCTL_SERIAL_GET_RECEIVE_WATCH = SerialControl(0x800);
// out: one DWORD, 1 while a read would return at once with data or with a
// failure, otherwise 0.
inline constexpr DWORD IOCTL_SERIAL_GET_RECEIVE_READY = SerialControl(0x801);
// out: the host path (UTF-8, terminated) through which other programs reach the
// device's endpoint now. ERROR_FILE_NOT_FOUND while it publishes none;
// ERROR_INSUFFICIENT_BUFFER when it does not fit (the buffer then holds an
// empty string if it has room for one); a driver without endpoints answers
// ERROR_NOT_SUPPORTED.
inline constexpr DWORD IOCTL_SERIAL_GET_NODE_PATH = SerialControl(0x802);
// out: SERIAL_LINE_HEALTH, how the line from the device to the programs that
// read its endpoint fares now. A driver without endpoints answers
// ERROR_NOT_SUPPORTED.
inline constexpr DWORD IOCTL_SERIAL_GET_LINE_HEALTH = SerialControl(0x803);

// out: COMM_DEVICE_IDENTITY of the device that a data open holds, or, on a
// query-only open, of the device that the port's name leads to now (found
// without opening it; ERROR_FILE_NOT_FOUND when nothing is there). A driver
// that cannot tell answers ERROR_INVALID_FUNCTION.
inline constexpr DWORD IOCTL_SERIAL_GET_DEVICE_IDENTITY = SerialControl(0x804);
// in: the COMM_DEVICE_IDENTITY remembered, or nothing when none is; out: one
// DWORD, the COMM_DEVICE_ verdict on the device that GET_DEVICE_IDENTITY
// would describe.
inline constexpr DWORD IOCTL_SERIAL_COMPARE_DEVICE_IDENTITY = SerialControl(0x805);

struct SERIAL_LINE_HEALTH {
    // Bytes that a program which read too slowly lost since the device was
    // activated (the oldest go, for the newest). Bytes written while no
    // program has the endpoint open are not counted: nobody lost them.
    ULONGLONG bytesDropped;
    BOOL programHasItOpen;     // some program has the endpoint open now
    DWORD reserved;
};
