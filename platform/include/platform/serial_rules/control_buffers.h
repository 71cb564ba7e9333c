// The caller's buffers of one serial I/O control, and the only ways a driver
// touches them. A value is copied in or out whole, never used in place, since
// the bytes may have any alignment. A buffer that is missing or too small
// refuses the control with ERROR_INVALID_PARAMETER before anything is written,
// and the count of bytes returned is 0 unless a value was written.
#pragma once

#include <array>
#include <cstring>
#include <type_traits>

#include "platform/errors.h"

namespace platform::serial_rules {

// DeviceIoControl's buffers as the driver's IOControl entry receives them.
struct ControlBuffers {
    const BYTE* in;
    DWORD inSize;
    BYTE* out;
    DWORD outSize;
    DWORD* outActual;   // may be null
};

// The input of IOCTL_SERIAL_SET_QUEUE_SIZE: the input and the output queue sizes.
using QueueSizes = std::array<DWORD, 2>;

// Every control starts by reporting that it returned nothing.
inline void ClearOutActual(const ControlBuffers& buffers)
{
    if (buffers.outActual != nullptr) {
        *buffers.outActual = 0;
    }
}

// True, with `value` copied from the input buffer, when that holds a whole T.
template <typename T>
bool ReadInput(const ControlBuffers& buffers, T& value)
{
    static_assert(std::is_trivially_copyable_v<T>);
    if (buffers.in == nullptr || buffers.inSize < sizeof(T)) {
        return false;
    }
    std::memcpy(&value, buffers.in, sizeof(T));
    return true;
}

template <typename T>
bool OutputFits(const ControlBuffers& buffers)
{
    return buffers.out != nullptr && buffers.outSize >= sizeof(T);
}

// Copies `value` into an output buffer that OutputFits, and counts it.
template <typename T>
void WriteOutput(const ControlBuffers& buffers, const T& value)
{
    static_assert(std::is_trivially_copyable_v<T>);
    std::memcpy(buffers.out, &value, sizeof(T));
    if (buffers.outActual != nullptr) {
        *buffers.outActual = sizeof(T);
    }
}

// A control that takes a value: `take` gets it when the input buffer holds a
// whole T, and gives the control's result.
template <typename T, typename Take>
DWORD AcceptInput(const ControlBuffers& buffers, Take&& take)
{
    T value{};
    return ReadInput(buffers, value) ? take(value) : ERROR_INVALID_PARAMETER;
}

// A control that reports a value it already has.
template <typename T>
DWORD ReportOutput(const ControlBuffers& buffers, const T& value)
{
    if (!OutputFits<T>(buffers)) {
        return ERROR_INVALID_PARAMETER;
    }
    WriteOutput(buffers, value);
    return ERROR_SUCCESS;
}

}  // namespace platform::serial_rules
