// GetDeviceNodePath: where programs of the host reach an active device,
// asked of its driver on a query-only open.
#include "devices/device_manager.h"
#include "platform/devices.h"
#include "platform/kernel.h"

DWORD GetDeviceNodePath(LPCWSTR deviceName, char* path, DWORD size)
{
    if (path != nullptr && size > 0) {
        path[0] = '\0';
    }
    if (deviceName == nullptr || path == nullptr || size == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const auto device = platform::devices::FindActiveDevice(deviceName);
    if (device == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    const auto file = device->Open(0, 0);
    if (file == nullptr) {
        // Deactivated since it was found: it is no longer active.
        return GetLastError() == ERROR_DEVICE_REMOVED ? ERROR_FILE_NOT_FOUND : GetLastError();
    }
    if (file->IoControl(IOCTL_SERIAL_GET_NODE_PATH, nullptr, 0, path, size)) {
        return ERROR_SUCCESS;
    }
    const DWORD error = GetLastError();
    path[0] = '\0';
    // A driver that knows no such control publishes nothing.
    const bool publishesNothing =
        error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION || error == ERROR_DEVICE_REMOVED;
    return publishesNothing ? ERROR_FILE_NOT_FOUND : error;
}
