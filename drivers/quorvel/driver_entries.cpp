// The module's exported entry points, named after the "Prefix" "COM" of its
// driver key. Each turns the device manager's context back into its object and
// lets no exception escape: a failure becomes the entry's failure value and the
// caller's last error.
#include <memory>
#include <new>
#include <span>
#include <system_error>
#include <type_traits>

#include "platform/errors.h"
#include "platform/serial_rules/host_errors.h"
#include "serial_controls.h"
#include "virtual_port.h"

#define QUORVEL_EXPORT __attribute__((visibility("default")))

extern "C" {
QUORVEL_EXPORT DRIVER_CONTEXT COM_Init(const WCHAR* registryPath, const DEVICE_HOST* host);
QUORVEL_EXPORT BOOL COM_Deinit(DRIVER_CONTEXT device);
QUORVEL_EXPORT DRIVER_CONTEXT COM_Open(DRIVER_CONTEXT device, DWORD access, DWORD shareMode);
QUORVEL_EXPORT BOOL COM_Close(DRIVER_CONTEXT open);
QUORVEL_EXPORT BOOL COM_PreClose(DRIVER_CONTEXT open);
QUORVEL_EXPORT DWORD COM_Read(DRIVER_CONTEXT open, void* buffer, DWORD count);
QUORVEL_EXPORT DWORD COM_Write(DRIVER_CONTEXT open, const void* buffer, DWORD count);
QUORVEL_EXPORT BOOL COM_IOControl(DRIVER_CONTEXT open, DWORD code, const BYTE* in, DWORD inSize, BYTE* out,
                                  DWORD outSize, DWORD* outActual);
}

static_assert(std::is_same_v<decltype(&COM_Init), PFN_DRIVER_INIT>);
static_assert(std::is_same_v<decltype(&COM_Deinit), PFN_DRIVER_DEINIT>);
static_assert(std::is_same_v<decltype(&COM_Open), PFN_DRIVER_OPEN>);
static_assert(std::is_same_v<decltype(&COM_Close), PFN_DRIVER_CLOSE>);
static_assert(std::is_same_v<decltype(&COM_PreClose), PFN_DRIVER_PRECLOSE>);
static_assert(std::is_same_v<decltype(&COM_Read), PFN_DRIVER_READ>);
static_assert(std::is_same_v<decltype(&COM_Write), PFN_DRIVER_WRITE>);
static_assert(std::is_same_v<decltype(&COM_IOControl), PFN_DRIVER_IOCONTROL>);

namespace {

using quorvel::DriverHost;
using quorvel::OpenContext;
using quorvel::VirtualPort;

VirtualPort* PortOf(DRIVER_CONTEXT device)
{
    return reinterpret_cast<VirtualPort*>(device);
}

OpenContext* OpenOf(DRIVER_CONTEXT open)
{
    return reinterpret_cast<OpenContext*>(open);
}

// Runs an entry's body; an exception becomes the failure value, the last
// error and, for a host error or a port in use, a debug line saying what failed.
template <typename Result, typename Body>
Result Guarded(const DriverHost& host, Result failure, Body body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        host.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const quorvel::PortInUse& taken) {
        // A port that cannot be made, as when something else is in the way.
        host.DebugLine(taken.what());
        host.SetLastError(ERROR_ALREADY_EXISTS);
    } catch (const std::system_error& error) {
        host.Debug(error.what());
        host.SetLastError(platform::serial_rules::FileErrorFromErrno(error.code().value()));
    } catch (...) {
        host.SetLastError(ERROR_GEN_FAILURE);
    }
    return failure;
}

// TRUE for ERROR_SUCCESS; otherwise sets the last error and gives FALSE.
BOOL Succeeded(const DriverHost& host, DWORD error)
{
    if (error != ERROR_SUCCESS) {
        host.SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

DRIVER_CONTEXT COM_Init(const WCHAR*, const DEVICE_HOST* host)
{
    if (!DriverHost::Usable(host)) {
        return 0;   // no host to report through
    }
    try {
        const DriverHost reporter(*host);
        return Guarded(reporter, DRIVER_CONTEXT{0}, [host] {
            // Owned through the device manager's handle from here until Deinit.
            return reinterpret_cast<DRIVER_CONTEXT>(std::make_unique<VirtualPort>(*host).release());
        });
    } catch (...) {
        if (host->SetLastError != nullptr) {
            host->SetLastError(ERROR_NOT_ENOUGH_MEMORY);   // not even the reporter could be made
        }
        return 0;
    }
}

BOOL COM_Deinit(DRIVER_CONTEXT device)
{
    // Stops the watcher, removes the link and closes the pty; reports its own trouble.
    const std::unique_ptr<VirtualPort> port(PortOf(device));
    return port != nullptr ? TRUE : FALSE;
}

DRIVER_CONTEXT COM_Open(DRIVER_CONTEXT device, DWORD access, DWORD)
{
    VirtualPort* port = PortOf(device);
    if (port == nullptr) {
        return 0;
    }
    return Guarded(port->host(), DRIVER_CONTEXT{0},
                   [port, access] { return reinterpret_cast<DRIVER_CONTEXT>(port->Open(access)); });
}

BOOL COM_Close(DRIVER_CONTEXT open)
{
    OpenContext* context = OpenOf(open);
    return context != nullptr && context->port.Close(context) ? TRUE : FALSE;
}

BOOL COM_PreClose(DRIVER_CONTEXT open)
{
    // No call blocks on an open context (reads and writes never wait,
    // WAIT_ON_MASK is refused), so there is nothing to wake.
    return open != 0 ? TRUE : FALSE;
}

DWORD COM_Read(DRIVER_CONTEXT open, void* buffer, DWORD count)
{
    // What consumers sent, kept when the data open set an input queue.
    OpenContext* context = OpenOf(open);
    if (context == nullptr) {
        return DRIVER_TRANSFER_FAILED;
    }
    VirtualPort& port = context->port;
    if (!context->readable) {
        port.host().SetLastError(ERROR_ACCESS_DENIED);
        return DRIVER_TRANSFER_FAILED;
    }
    if (count == 0) {
        return 0;
    }
    if (buffer == nullptr) {
        port.host().SetLastError(ERROR_INVALID_PARAMETER);
        return DRIVER_TRANSFER_FAILED;
    }
    return Guarded(port.host(), DRIVER_TRANSFER_FAILED, [&port, buffer, count] {
        return port.Read(std::span<unsigned char>(static_cast<unsigned char*>(buffer), count));
    });
}

DWORD COM_Write(DRIVER_CONTEXT open, const void* buffer, DWORD count)
{
    OpenContext* context = OpenOf(open);
    if (context == nullptr) {
        return DRIVER_TRANSFER_FAILED;
    }
    VirtualPort& port = context->port;
    if (count == 0) {
        return 0;
    }
    if (buffer == nullptr) {
        port.host().SetLastError(ERROR_INVALID_PARAMETER);
        return DRIVER_TRANSFER_FAILED;
    }
    return Guarded(port.host(), DRIVER_TRANSFER_FAILED, [&port, buffer, count] {
        const std::span<const unsigned char> bytes(static_cast<const unsigned char*>(buffer), count);
        return Succeeded(port.host(), port.Write(bytes)) ? count : DRIVER_TRANSFER_FAILED;
    });
}

BOOL COM_IOControl(DRIVER_CONTEXT open, DWORD code, const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize,
                   DWORD* outActual)
{
    OpenContext* context = OpenOf(open);
    if (context == nullptr) {
        return FALSE;
    }
    const DriverHost& host = context->port.host();
    return Guarded(host, FALSE, [context, &host, code, in, inSize, out, outSize, outActual] {
        const quorvel::ControlBuffers buffers{in, inSize, out, outSize, outActual};
        return Succeeded(host, quorvel::HandleSerialControl(*context, code, buffers));
    });
}
