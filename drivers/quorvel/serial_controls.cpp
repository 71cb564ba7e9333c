#include "serial_controls.h"

#include <cstring>
#include <optional>
#include <string>

#include "platform/comm.h"
#include "platform/serial_rules/comm_flags.h"
#include "platform/streamdriver.h"
#include "virtual_port.h"

namespace quorvel {
namespace {

using platform::serial_rules::AcceptInput;
using platform::serial_rules::OutputFits;
using platform::serial_rules::QueueSizes;
using platform::serial_rules::ReportOutput;
using platform::serial_rules::WriteOutput;

DWORD Purge(VirtualPort& port, DWORD flags)
{
    if (!platform::serial_rules::HasOnlyKnownPurgeFlags(flags)) {
        return ERROR_INVALID_PARAMETER;
    }
    port.Purge(flags);
    return ERROR_SUCCESS;
}

// The link's path, terminated; an empty string when it does not fit.
DWORD ReportNodePath(VirtualPort& port, const ControlBuffers& buffers)
{
    const std::optional<std::string> path = port.NodePath();
    if (!path) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (buffers.out == nullptr || buffers.outSize <= path->size()) {
        if (buffers.out != nullptr && buffers.outSize > 0) {
            buffers.out[0] = 0;
        }
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(buffers.out, path->c_str(), path->size() + 1);
    if (buffers.outActual != nullptr) {
        *buffers.outActual = static_cast<DWORD>(path->size() + 1);
    }
    return ERROR_SUCCESS;
}

// The data open's input queue decides whether what consumers write is kept
// for it; a query-only open's sizes are only checked.
DWORD SetQueueSize(OpenContext& open, const QueueSizes& sizes)
{
    if (open.forData) {
        open.port.SetInputQueue(sizes[0]);
    }
    return ERROR_SUCCESS;
}

// The output buffer is checked first, so that no descriptor is made only to be lost.
DWORD ReportReceiveWatch(VirtualPort& port, const ControlBuffers& buffers)
{
    if (!OutputFits<DWORD>(buffers)) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD descriptor = 0;
    const DWORD error = port.CreateReceiveWatch(descriptor);
    if (error == ERROR_SUCCESS) {
        WriteOutput(buffers, descriptor);
    }
    return error;
}

}  // namespace

DWORD HandleSerialControl(OpenContext& open, DWORD code, const ControlBuffers& buffers)
{
    platform::serial_rules::ClearOutActual(buffers);
    VirtualPort& port = open.port;
    SerialSettings& settings = port.settings();
    switch (code) {
    case IOCTL_SERIAL_GET_DCB:
        return ReportOutput(buffers, settings.Dcb());
    case IOCTL_SERIAL_SET_DCB:
        return AcceptInput<DCB>(buffers, [&settings](const DCB& dcb) { return settings.SetDcb(dcb); });
    case IOCTL_SERIAL_GET_TIMEOUTS:
        return ReportOutput(buffers, settings.Timeouts());
    case IOCTL_SERIAL_SET_TIMEOUTS:
        return AcceptInput<COMMTIMEOUTS>(buffers, [&settings](const COMMTIMEOUTS& timeouts) {
            settings.SetTimeouts(timeouts);
            return ERROR_SUCCESS;
        });
    case IOCTL_SERIAL_GET_WAIT_MASK:
        return ReportOutput(buffers, settings.WaitMask());
    case IOCTL_SERIAL_SET_WAIT_MASK:
        return AcceptInput<DWORD>(buffers, [&settings](DWORD mask) { return settings.SetWaitMask(mask); });
    case IOCTL_SERIAL_SET_QUEUE_SIZE:
        // The output queue size is only checked: the pty's buffers have a size of their own.
        return AcceptInput<QueueSizes>(buffers, [&open](const QueueSizes& sizes) { return SetQueueSize(open, sizes); });
    case IOCTL_SERIAL_PURGE:
        return AcceptInput<DWORD>(buffers, [&port](DWORD flags) { return Purge(port, flags); });
    case IOCTL_SERIAL_GET_NODE_PATH:
        return ReportNodePath(port, buffers);
    case IOCTL_SERIAL_GET_COMMSTATUS:
        return ReportOutput(buffers, port.CommStatus());
    case IOCTL_SERIAL_GET_LINE_HEALTH:
        return ReportOutput(buffers, port.LineHealth());
    case IOCTL_SERIAL_GET_RECEIVE_WATCH:
        return ReportReceiveWatch(port, buffers);
    case IOCTL_SERIAL_GET_RECEIVE_READY:
        return ReportOutput(buffers, DWORD{port.ReceiveReady() ? 1u : 0u});
    case IOCTL_SERIAL_WAIT_ON_MASK:
        // A virtual port raises no comm events; a reader of what consumers
        // send waits on the receive watch instead.
        return ERROR_NOT_SUPPORTED;
    default:
        return ERROR_NOT_SUPPORTED;
    }
}

}  // namespace quorvel
