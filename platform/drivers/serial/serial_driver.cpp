// The entry points of the built-in serial driver (see serial_driver.h). They
// turn contexts into objects, results into the host's last error, and keep
// exceptions from crossing into the device manager.
#include "drivers/serial/serial_driver.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "drivers/serial/context_table.h"
#include "drivers/serial/device_identity.h"
#include "drivers/serial/serial_controls.h"
#include "drivers/serial/tty_port.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace platform::serial {
namespace {

using ErrorSink = void (*)(DWORD error);

// What Init keeps of its device: the host path, and where errors go.
struct SerialDevice {
    std::string hostPath;
    ErrorSink setLastError;
};

// A data open holds the tty; a query-only open (no access) leaves the device
// alone and only tells who it is.
struct SerialOpen {
    std::shared_ptr<TtyPort> port;   // null on a query-only open
    std::string hostPath;
    ErrorSink setLastError;
};

ContextTable<SerialDevice> devices;
ContextTable<SerialOpen> opens;
// For a context that is not ours there is no device to ask; every host's
// SetLastError sets the calling thread's last error, so any one will do.
std::atomic<ErrorSink> anyHostSink{nullptr};

constexpr WCHAR hostDeviceName[] = u"HostDevice";
constexpr DWORD longestHostDevice = 4095;   // characters, without the terminator
// A success never moves as many bytes as DRIVER_TRANSFER_FAILED says.
constexpr DWORD largestTransfer = DRIVER_TRANSFER_FAILED - 1;

void Report(ErrorSink sink, DWORD error)
{
    if (sink != nullptr) {
        sink(error);
    }
}

// Runs one entry point; an exception becomes a failure with its error.
template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        Report(anyHostSink.load(), ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        Report(anyHostSink.load(), ERROR_GEN_FAILURE);
    }
    return failure;
}

// The key's HostDevice as a host path; empty when there is no usable value
// (missing, not REG_SZ, empty or longer than any path).
std::string ReadHostDevice(const WCHAR* registryPath, const DEVICE_HOST& host)
{
    std::vector<WCHAR> text(longestHostDevice + 2, u'\0');   // room for an unterminated value and our terminator
    DWORD type = 0;
    DWORD size = (longestHostDevice + 1) * sizeof(WCHAR);
    const LONG result = host.QueryValue(registryPath, hostDeviceName, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    if (result != static_cast<LONG>(ERROR_SUCCESS) || type != REG_SZ) {
        return {};
    }
    return ToUtf8(text.data());
}

std::shared_ptr<SerialOpen> FindOpen(DRIVER_CONTEXT open)
{
    std::shared_ptr<SerialOpen> found = opens.Find(open);
    if (found == nullptr) {
        Report(anyHostSink.load(), ERROR_INVALID_HANDLE);
    }
    return found;
}

DRIVER_CONTEXT Init(const WCHAR* registryPath, const DEVICE_HOST* host)
{
    if (host == nullptr || !DEVICE_HOST_HAS(*host, QueryValue) || host->SetLastError == nullptr ||
        host->QueryValue == nullptr) {
        return 0;   // nobody to tell
    }
    anyHostSink.store(host->SetLastError);
    std::string hostPath = ReadHostDevice(registryPath, *host);
    if (hostPath.empty()) {
        Report(host->SetLastError, ERROR_FILE_NOT_FOUND);
        return 0;
    }
    return devices.Insert(std::make_shared<SerialDevice>(SerialDevice{std::move(hostPath), host->SetLastError}));
}

BOOL Deinit(DRIVER_CONTEXT device)
{
    if (devices.Remove(device) == nullptr) {
        Report(anyHostSink.load(), ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DRIVER_CONTEXT Open(DRIVER_CONTEXT device, DWORD access)
{
    const std::shared_ptr<SerialDevice> found = devices.Find(device);
    if (found == nullptr) {
        Report(anyHostSink.load(), ERROR_INVALID_HANDLE);
        return 0;
    }
    std::shared_ptr<TtyPort> port;
    if ((access & (GENERIC_READ | GENERIC_WRITE)) != 0) {
        DWORD error = ERROR_SUCCESS;
        port = TtyPort::Open(found->hostPath, error);
        if (port == nullptr) {
            Report(found->setLastError, error);
            return 0;
        }
    }
    return opens.Insert(std::make_shared<SerialOpen>(SerialOpen{std::move(port), found->hostPath, found->setLastError}));
}

void PrepareToClose(const SerialOpen& open)
{
    if (open.port != nullptr) {
        open.port->PrepareToClose();
    }
}

// The descriptor closes when the last reference goes, normally right here.
BOOL Close(DRIVER_CONTEXT open)
{
    const std::shared_ptr<SerialOpen> removed = opens.Remove(open);
    if (removed == nullptr) {
        Report(anyHostSink.load(), ERROR_INVALID_HANDLE);
        return FALSE;
    }
    PrepareToClose(*removed);
    return TRUE;
}

BOOL PreClose(DRIVER_CONTEXT open)
{
    const std::shared_ptr<SerialOpen> found = FindOpen(open);
    if (found == nullptr) {
        return FALSE;
    }
    PrepareToClose(*found);
    return TRUE;
}

// Read and Write: the bytes moved, or DRIVER_TRANSFER_FAILED with the error.
template <auto Move, typename Bytes>
DWORD Transfer(DRIVER_CONTEXT open, Bytes* bytes, DWORD count)
{
    const std::shared_ptr<SerialOpen> found = FindOpen(open);
    if (found == nullptr) {
        return DRIVER_TRANSFER_FAILED;
    }
    if (found->port == nullptr || (bytes == nullptr && count != 0)) {
        Report(found->setLastError, found->port == nullptr ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
        return DRIVER_TRANSFER_FAILED;
    }
    const IoResult result = ((*found->port).*Move)(bytes, std::min(count, largestTransfer));
    if (result.error != ERROR_SUCCESS) {
        Report(found->setLastError, result.error);
        return DRIVER_TRANSFER_FAILED;
    }
    return result.bytes;
}

DWORD Read(DRIVER_CONTEXT open, void* buffer, DWORD count)
{
    return Transfer<&TtyPort::Read>(open, static_cast<BYTE*>(buffer), count);
}

DWORD Write(DRIVER_CONTEXT open, const void* data, DWORD count)
{
    return Transfer<&TtyPort::Write>(open, static_cast<const BYTE*>(data), count);
}

// Who the device is: the one a data open holds, or on a query-only open the
// one that the host path leads to now, looked at without opening it.
DWORD IdentityControl(const SerialOpen& open, DWORD code, const ControlBuffers& buffers)
{
    serial_rules::ClearOutActual(buffers);
    COMM_DEVICE_IDENTITY found{};
    if (open.port != nullptr) {
        found = open.port->identity();
    } else if (const DWORD error = IdentifyDeviceAt(open.hostPath, found); error != ERROR_SUCCESS) {
        return error;
    }
    if (code == IOCTL_SERIAL_GET_DEVICE_IDENTITY) {
        return serial_rules::ReportOutput(buffers, found);
    }
    COMM_DEVICE_IDENTITY remembered{};
    if (buffers.inSize != 0 && !serial_rules::ReadInput(buffers, remembered)) {
        return ERROR_INVALID_PARAMETER;
    }
    return serial_rules::ReportOutput<DWORD>(
        buffers, CompareDeviceIdentities(buffers.inSize != 0 ? &remembered : nullptr, found));
}

DWORD CarryOut(const SerialOpen& open, DWORD code, const ControlBuffers& buffers)
{
    if (code == IOCTL_SERIAL_GET_DEVICE_IDENTITY || code == IOCTL_SERIAL_COMPARE_DEVICE_IDENTITY) {
        return IdentityControl(open, code, buffers);
    }
    if (open.port == nullptr) {
        // Nothing but who the device is can be asked without opening it.
        return IsSerialControl(code) ? ERROR_ACCESS_DENIED : ERROR_INVALID_FUNCTION;
    }
    return open.port->IsUsable() ? CarryOutControl(*open.port, code, buffers) : ERROR_OPERATION_ABORTED;
}

BOOL IoControl(DRIVER_CONTEXT open, DWORD code, const ControlBuffers& buffers)
{
    const std::shared_ptr<SerialOpen> found = FindOpen(open);
    if (found == nullptr) {
        return FALSE;
    }
    const DWORD error = CarryOut(*found, code, buffers);
    if (error != ERROR_SUCCESS) {
        Report(found->setLastError, error);
        return FALSE;
    }
    return TRUE;
}

}  // namespace
}  // namespace platform::serial

extern "C" {

static DRIVER_CONTEXT HostSerialInit(const WCHAR* registryPath, const DEVICE_HOST* host)
{
    return platform::serial::Guarded<DRIVER_CONTEXT>(0, [&] { return platform::serial::Init(registryPath, host); });
}

static BOOL HostSerialDeinit(DRIVER_CONTEXT device)
{
    return platform::serial::Guarded<BOOL>(FALSE, [&] { return platform::serial::Deinit(device); });
}

static DRIVER_CONTEXT HostSerialOpen(DRIVER_CONTEXT device, DWORD access, DWORD /*shareMode*/)
{
    // The device manager enforces the sharing rules of a serial port.
    return platform::serial::Guarded<DRIVER_CONTEXT>(0, [&] { return platform::serial::Open(device, access); });
}

static BOOL HostSerialClose(DRIVER_CONTEXT open)
{
    return platform::serial::Guarded<BOOL>(FALSE, [&] { return platform::serial::Close(open); });
}

static BOOL HostSerialPreClose(DRIVER_CONTEXT open)
{
    return platform::serial::Guarded<BOOL>(FALSE, [&] { return platform::serial::PreClose(open); });
}

static DWORD HostSerialRead(DRIVER_CONTEXT open, void* buffer, DWORD count)
{
    return platform::serial::Guarded<DWORD>(DRIVER_TRANSFER_FAILED,
                                            [&] { return platform::serial::Read(open, buffer, count); });
}

static DWORD HostSerialWrite(DRIVER_CONTEXT open, const void* data, DWORD count)
{
    return platform::serial::Guarded<DWORD>(DRIVER_TRANSFER_FAILED,
                                            [&] { return platform::serial::Write(open, data, count); });
}

static BOOL HostSerialIoControl(DRIVER_CONTEXT open, DWORD code, const BYTE* in, DWORD inSize, BYTE* out,
                                DWORD outSize, DWORD* outActual)
{
    const platform::serial::ControlBuffers buffers{in, inSize, out, outSize, outActual};
    return platform::serial::Guarded<BOOL>(FALSE, [&] { return platform::serial::IoControl(open, code, buffers); });
}

}  // extern "C"

namespace platform {

const STREAM_DRIVER_ENTRIES* HostSerialDriverEntries()
{
    static constexpr STREAM_DRIVER_ENTRIES entries{
        HostSerialInit, HostSerialDeinit, HostSerialOpen,       HostSerialClose,
        HostSerialPreClose, HostSerialRead, HostSerialWrite, HostSerialIoControl,
    };
    return &entries;
}

}  // namespace platform
