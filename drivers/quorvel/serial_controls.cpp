#include "serial_controls.h"

#include <cstring>
#include <type_traits>

#include "platform/comm.h"
#include "platform/streamdriver.h"
#include "virtual_port.h"

namespace quorvel {
namespace {

// The control's input, when the caller passed enough bytes for one T.
template <typename T>
bool ReadIn(const ControlBuffers& buffers, T& value)
{
    static_assert(std::is_trivially_copyable_v<T>);
    if (buffers.in == nullptr || buffers.inSize < sizeof(T)) {
        return false;
    }
    std::memcpy(&value, buffers.in, sizeof(T));
    return true;
}

template <typename T>
DWORD WriteOut(const ControlBuffers& buffers, const T& value)
{
    static_assert(std::is_trivially_copyable_v<T>);
    if (buffers.out == nullptr || buffers.outSize < sizeof(T)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::memcpy(buffers.out, &value, sizeof(T));
    if (buffers.outActual != nullptr) {
        *buffers.outActual = sizeof(T);
    }
    return ERROR_SUCCESS;
}

DWORD SetDcb(VirtualPort& port, const ControlBuffers& buffers)
{
    DCB dcb{};
    return ReadIn(buffers, dcb) ? port.settings().SetDcb(dcb) : ERROR_INVALID_PARAMETER;
}

DWORD SetTimeouts(VirtualPort& port, const ControlBuffers& buffers)
{
    COMMTIMEOUTS timeouts{};
    if (!ReadIn(buffers, timeouts)) {
        return ERROR_INVALID_PARAMETER;
    }
    port.settings().SetTimeouts(timeouts);
    return ERROR_SUCCESS;
}

DWORD SetWaitMask(VirtualPort& port, const ControlBuffers& buffers)
{
    DWORD mask = 0;
    return ReadIn(buffers, mask) ? port.settings().SetWaitMask(mask) : ERROR_INVALID_PARAMETER;
}

// The sizes are only checked: the pty's buffers have a size of their own.
DWORD SetQueueSize(const ControlBuffers& buffers)
{
    DWORD sizes[2] = {};
    return ReadIn(buffers, sizes) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

DWORD Purge(VirtualPort& port, const ControlBuffers& buffers)
{
    constexpr DWORD kKnownFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    DWORD flags = 0;
    if (!ReadIn(buffers, flags) || (flags & ~kKnownFlags) != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    port.Purge(flags);
    return ERROR_SUCCESS;
}

}  // namespace

DWORD HandleSerialControl(VirtualPort& port, DWORD code, const ControlBuffers& buffers)
{
    if (buffers.outActual != nullptr) {
        *buffers.outActual = 0;
    }
    switch (code) {
    case IOCTL_SERIAL_GET_DCB:
        return WriteOut(buffers, port.settings().Dcb());
    case IOCTL_SERIAL_SET_DCB:
        return SetDcb(port, buffers);
    case IOCTL_SERIAL_GET_TIMEOUTS:
        return WriteOut(buffers, port.settings().Timeouts());
    case IOCTL_SERIAL_SET_TIMEOUTS:
        return SetTimeouts(port, buffers);
    case IOCTL_SERIAL_GET_WAIT_MASK:
        return WriteOut(buffers, port.settings().WaitMask());
    case IOCTL_SERIAL_SET_WAIT_MASK:
        return SetWaitMask(port, buffers);
    case IOCTL_SERIAL_SET_QUEUE_SIZE:
        return SetQueueSize(buffers);
    case IOCTL_SERIAL_PURGE:
        return Purge(port, buffers);
    case IOCTL_SERIAL_WAIT_ON_MASK:
        // A virtual output port raises no comm events (it receives nothing
        // that the system reads), so a wait could never end.
        return ERROR_NOT_SUPPORTED;
    default:
        return ERROR_NOT_SUPPORTED;
    }
}

}  // namespace quorvel
