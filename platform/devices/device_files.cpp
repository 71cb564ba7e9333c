// CreateFileW on device names, ReadFile and WriteFile, and how many driver
// calls are in progress on an open file.
#include "devices/device_manager.h"
#include "platform/comm.h"
#include "platform/driver_calls.h"
#include "platform/fail_with.h"
#include "platform/kernel.h"

namespace platform::devices {
namespace {

std::shared_ptr<DeviceFile> FileOf(HANDLE handle)
{
    return kernel::LookupHandleAs<DeviceFile>(handle, kernel::ObjectType::DeviceFile);
}

// Runs a driver Read or Write; the count is set in every case.
template <typename Transfer>
BOOL Move(HANDLE handle, DWORD size, LPDWORD moved, LPOVERLAPPED overlapped, Transfer transfer)
{
    DWORD ignored = 0;
    DWORD& count = moved != nullptr ? *moved : ignored;
    count = 0;
    const auto file = FileOf(handle);
    if (file == nullptr) {
        return FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    if (overlapped != nullptr) {
        return FailWith(ERROR_INVALID_PARAMETER, FALSE);   // the device has no overlapped I/O
    }
    DriverCall call(*file);
    if (!call.entered()) {
        return FailWith(ERROR_DEVICE_REMOVED, FALSE);
    }
    SetLastError(ERROR_SUCCESS);
    const DWORD result = transfer(*file, size);
    if (result == DRIVER_TRANSFER_FAILED) {
        if (GetLastError() == ERROR_SUCCESS) {
            SetLastError(ERROR_GEN_FAILURE);
        }
        return FALSE;
    }
    count = result;
    return TRUE;
}

}  // namespace
}  // namespace platform::devices

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES, DWORD,
                   DWORD, HANDLE)
{
    using namespace platform;
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const auto device = devices::FindActiveDevice(fileName);
    if (device == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto file = device->Open(desiredAccess, shareMode);
    if (file == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    // A full handle table closes the open again as the file goes.
    HANDLE handle = kernel::InsertHandle(std::move(file));
    if (handle == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped)
{
    using namespace platform::devices;
    if (buffer == nullptr && bytesToRead != 0) {
        return platform::FailWith(ERROR_INVALID_PARAMETER, FALSE);
    }
    return Move(file, bytesToRead, bytesRead, overlapped, [buffer](DeviceFile& device, DWORD size) {
        return device.entries().Read(device.open(), buffer, size);
    });
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped)
{
    using namespace platform::devices;
    if (buffer == nullptr && bytesToWrite != 0) {
        return platform::FailWith(ERROR_INVALID_PARAMETER, FALSE);
    }
    return Move(file, bytesToWrite, bytesWritten, overlapped, [buffer](DeviceFile& device, DWORD size) {
        return device.entries().Write(device.open(), buffer, size);
    });
}

std::size_t platform::DriverCallsInProgress(HANDLE file)
{
    const auto device = platform::devices::FileOf(file);
    return device != nullptr ? static_cast<std::size_t>(device->CallsInFlight()) : 0;
}
