#include "drivers/serial/serial_controls.h"

#include <algorithm>
#include <iterator>

#include "platform/streamdriver.h"

namespace platform::serial {
namespace {

using serial_rules::AcceptInput;
using serial_rules::OutputFits;
using serial_rules::QueueSizes;
using serial_rules::ReportOutput;
using serial_rules::WriteOutput;

// A control that only reports a value.
template <typename T, auto Get>
DWORD Report(TtyPort& port, const ControlBuffers& buffers)
{
    return ReportOutput<T>(buffers, (port.*Get)());
}

// A control that only takes a value.
template <typename T, auto Set>
DWORD Accept(TtyPort& port, const ControlBuffers& buffers)
{
    return AcceptInput<T>(buffers, [&port](const T& value) { return (port.*Set)(value); });
}

DWORD SetQueueSize(TtyPort& port, const ControlBuffers& buffers)
{
    return AcceptInput<QueueSizes>(buffers,
                                   [&port](const QueueSizes& sizes) { return port.SetQueueSize(sizes[0], sizes[1]); });
}

// A control whose value comes from a call that may fail (a wait for events, a
// new descriptor). The output buffer is checked first, so that a bad one fails
// at once: no wait starts, and no descriptor is made only to be lost.
template <auto Produce>
DWORD Produced(TtyPort& port, const ControlBuffers& buffers)
{
    if (!OutputFits<DWORD>(buffers)) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD value = 0;
    const DWORD error = (port.*Produce)(value);
    if (error == ERROR_SUCCESS) {
        WriteOutput(buffers, value);
    }
    return error;
}

struct Control {
    DWORD code;
    DWORD (*carryOut)(TtyPort&, const ControlBuffers&);
};

constexpr Control controls[] = {
    {IOCTL_SERIAL_SET_QUEUE_SIZE, SetQueueSize},
    {IOCTL_SERIAL_SET_TIMEOUTS, Accept<COMMTIMEOUTS, &TtyPort::SetTimeouts>},
    {IOCTL_SERIAL_GET_TIMEOUTS, Report<COMMTIMEOUTS, &TtyPort::GetTimeouts>},
    {IOCTL_SERIAL_GET_WAIT_MASK, Report<DWORD, &TtyPort::GetWaitMask>},
    {IOCTL_SERIAL_SET_WAIT_MASK, Accept<DWORD, &TtyPort::SetWaitMask>},
    {IOCTL_SERIAL_WAIT_ON_MASK, Produced<&TtyPort::WaitOnMask>},
    {IOCTL_SERIAL_PURGE, Accept<DWORD, &TtyPort::Purge>},
    {IOCTL_SERIAL_GET_DCB, Report<DCB, &TtyPort::GetState>},
    {IOCTL_SERIAL_SET_DCB, Accept<DCB, &TtyPort::SetState>},
    {IOCTL_SERIAL_GET_RECEIVE_WATCH, Produced<&TtyPort::CreateReceiveWatch>},
    {IOCTL_SERIAL_GET_RECEIVE_READY, Report<DWORD, &TtyPort::ReceiveReady>},
};

}  // namespace

bool IsSerialControl(DWORD code)
{
    return std::any_of(std::begin(controls), std::end(controls),
                       [code](const Control& control) { return control.code == code; });
}

DWORD CarryOutControl(TtyPort& port, DWORD code, const ControlBuffers& buffers)
{
    serial_rules::ClearOutActual(buffers);
    for (const Control& control : controls) {
        if (control.code == code) {
            return control.carryOut(port, buffers);
        }
    }
    return ERROR_INVALID_FUNCTION;
}

}  // namespace platform::serial
