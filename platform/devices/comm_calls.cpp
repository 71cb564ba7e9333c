// The serial communication calls, each one I/O control of the port's driver.
#include "devices/device_manager.h"
#include "platform/comm.h"
#include "platform/fail_with.h"
#include "platform/kernel.h"

namespace platform::devices {
namespace {

BOOL Control(HANDLE handle, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize)
{
    const auto file = kernel::LookupHandleAs<DeviceFile>(handle, kernel::ObjectType::DeviceFile);
    return file != nullptr ? file->IoControl(code, in, inSize, out, outSize) : FailWith(ERROR_INVALID_HANDLE, FALSE);
}

template <typename T>
BOOL ControlIn(HANDLE handle, DWORD code, const T* in)
{
    return in == nullptr ? FailWith(ERROR_INVALID_PARAMETER, FALSE)
                         : Control(handle, code, in, sizeof(T), nullptr, 0);
}

template <typename T>
BOOL ControlOut(HANDLE handle, DWORD code, T* out)
{
    return out == nullptr ? FailWith(ERROR_INVALID_PARAMETER, FALSE)
                          : Control(handle, code, nullptr, 0, out, sizeof(T));
}

}  // namespace
}  // namespace platform::devices

using platform::devices::Control;
using platform::devices::ControlIn;
using platform::devices::ControlOut;

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue)
{
    const DWORD sizes[2] = {inQueue, outQueue};
    return Control(file, IOCTL_SERIAL_SET_QUEUE_SIZE, sizes, sizeof(sizes), nullptr, 0);
}

BOOL GetCommState(HANDLE file, LPDCB dcb)
{
    return ControlOut(file, IOCTL_SERIAL_GET_DCB, dcb);
}

BOOL SetCommState(HANDLE file, LPDCB dcb)
{
    return ControlIn(file, IOCTL_SERIAL_SET_DCB, dcb);
}

BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts)
{
    return ControlOut(file, IOCTL_SERIAL_GET_TIMEOUTS, timeouts);
}

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts)
{
    return ControlIn(file, IOCTL_SERIAL_SET_TIMEOUTS, timeouts);
}

BOOL SetCommMask(HANDLE file, DWORD eventMask)
{
    return ControlIn(file, IOCTL_SERIAL_SET_WAIT_MASK, &eventMask);
}

BOOL GetCommMask(HANDLE file, LPDWORD eventMask)
{
    return ControlOut(file, IOCTL_SERIAL_GET_WAIT_MASK, eventMask);
}

BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped)
{
    if (overlapped != nullptr) {
        return platform::FailWith(ERROR_INVALID_PARAMETER, FALSE);
    }
    DWORD events = 0;
    const BOOL done = ControlOut(file, IOCTL_SERIAL_WAIT_ON_MASK, &events);
    if (done && eventMask != nullptr) {
        *eventMask = events;
    }
    return done;
}

BOOL PurgeComm(HANDLE file, DWORD flags)
{
    return ControlIn(file, IOCTL_SERIAL_PURGE, &flags);
}

BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT stat)
{
    SERIAL_DEV_STATUS status{};
    if (!ControlOut(file, IOCTL_SERIAL_GET_COMMSTATUS, &status)) {
        return FALSE;
    }
    if (errors != nullptr) {
        *errors = status.Errors;
    }
    if (stat != nullptr) {
        *stat = status.ComStat;
    }
    return TRUE;
}

BOOL GetCommDeviceIdentity(HANDLE file, LPCOMM_DEVICE_IDENTITY identity)
{
    return ControlOut(file, IOCTL_SERIAL_GET_DEVICE_IDENTITY, identity);
}

BOOL CompareCommDeviceIdentity(HANDLE file, const COMM_DEVICE_IDENTITY* remembered, LPDWORD verdict)
{
    if (verdict == nullptr) {
        return platform::FailWith(ERROR_INVALID_PARAMETER, FALSE);
    }
    const DWORD size = remembered != nullptr ? sizeof *remembered : 0;
    return Control(file, IOCTL_SERIAL_COMPARE_DEVICE_IDENTITY, remembered, size, verdict, sizeof *verdict);
}
