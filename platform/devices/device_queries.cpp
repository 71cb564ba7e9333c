// What the driver of an active device tells about it on a query-only open,
// which sits beside the open for data (the relay's) without disturbing it:
// where programs of the host reach it, and how the line to them fares.
#include "devices/device_manager.h"
#include "platform/devices.h"
#include "platform/kernel.h"

namespace {

// What a control sends along: nothing, or `size` bytes at `data`.
struct ControlInput {
    const void* data = nullptr;
    DWORD size = 0;
};

// Sends `code` on a query-only open of the active device; ERROR_SUCCESS with
// `out` filled, ERROR_FILE_NOT_FOUND when no such device is active,
// ERROR_NOT_SUPPORTED when its driver knows no such control, or the driver's
// error.
DWORD QueryActiveDevice(LPCWSTR deviceName, DWORD code, void* out, DWORD size, ControlInput in = {})
{
    const auto device = platform::devices::FindActiveDevice(deviceName);
    if (device == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    const auto file = device->Open(0, 0);
    if (file == nullptr) {
        // Deactivated since it was found: it is no longer active.
        return GetLastError() == ERROR_DEVICE_REMOVED ? ERROR_FILE_NOT_FOUND : GetLastError();
    }
    if (file->IoControl(code, in.data, in.size, out, size)) {
        return ERROR_SUCCESS;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_DEVICE_REMOVED) {
        return ERROR_FILE_NOT_FOUND;
    }
    return error == ERROR_INVALID_FUNCTION ? ERROR_NOT_SUPPORTED : error;
}

}  // namespace

DWORD GetDeviceNodePath(LPCWSTR deviceName, char* path, DWORD size)
{
    if (path != nullptr && size > 0) {
        path[0] = '\0';
    }
    if (deviceName == nullptr || path == nullptr || size == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD error = QueryActiveDevice(deviceName, IOCTL_SERIAL_GET_NODE_PATH, path, size);
    if (error != ERROR_SUCCESS) {
        path[0] = '\0';
    }
    // A driver that knows no such control publishes nothing.
    return error == ERROR_NOT_SUPPORTED ? ERROR_FILE_NOT_FOUND : error;
}

DWORD GetDeviceLineHealth(LPCWSTR deviceName, SERIAL_LINE_HEALTH* health)
{
    if (health != nullptr) {
        *health = SERIAL_LINE_HEALTH{};
    }
    if (deviceName == nullptr || health == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    SERIAL_LINE_HEALTH answer{};
    const DWORD error = QueryActiveDevice(deviceName, IOCTL_SERIAL_GET_LINE_HEALTH, &answer, sizeof answer);
    if (error == ERROR_SUCCESS) {
        *health = answer;
    }
    return error;
}

DWORD CompareDeviceIdentity(LPCWSTR deviceName, const COMM_DEVICE_IDENTITY* remembered, DWORD* verdict)
{
    if (deviceName == nullptr || verdict == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const ControlInput in{remembered, remembered != nullptr ? static_cast<DWORD>(sizeof *remembered) : 0};
    return QueryActiveDevice(deviceName, IOCTL_SERIAL_COMPARE_DEVICE_IDENTITY, verdict, sizeof *verdict, in);
}
