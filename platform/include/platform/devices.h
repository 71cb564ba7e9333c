// The device manager: stream drivers are activated from their registry keys
// (relative to HKEY_LOCAL_MACHINE) and appear as devices named Prefix, Index
// and a colon, such as "COM5:", which CreateFileW opens.
#pragma once

#include "platform/errors.h"
#include "platform/streamdriver.h"
#include "platform/types.h"

struct REGINI {
    LPCWSTR lpszVal;
    LPBYTE pData;
    DWORD dwLen;
    DWORD dwType;
};

// Reads the driver key (its "Dll", "Prefix" and "Index"), loads the module,
// initialises an instance and registers its name. Returns the device handle,
// or null with the reason in GetLastError.
HANDLE ActivateDeviceEx(LPCWSTR deviceKey, const REGINI* registryEntries, DWORD entryCount, LPVOID parameter);
// Closes the device's open files and removes the instance.
BOOL DeactivateDevice(HANDLE device);

// The host path (UTF-8, terminated) through which other programs reach the
// endpoint of the active device `deviceName` ("COM5:"), as its driver tells
// on a query-only open: for a virtual port, its link while it is published.
// ERROR_SUCCESS; ERROR_FILE_NOT_FOUND when no such device is active or it
// publishes nothing now (the built-in serial driver never does: a host
// serial port is reached by its own path); ERROR_INSUFFICIENT_BUFFER when the
// path does not fit `size` bytes (then `path` holds an empty string);
// ERROR_INVALID_PARAMETER for a missing name or buffer; or the error with
// which the driver refused the query-only open. Asking a built-in port leaves
// its host device alone.
DWORD GetDeviceNodePath(LPCWSTR deviceName, char* path, DWORD size);

// How the line from the active device `deviceName` ("COM5:") to the programs
// that read its endpoint fares, as its driver tells on a query-only open
// (safe beside the open for data): see SERIAL_LINE_HEALTH. ERROR_SUCCESS;
// ERROR_FILE_NOT_FOUND when no such device is active; ERROR_NOT_SUPPORTED
// when its driver has no endpoint to tell of (the built-in serial driver);
// ERROR_INVALID_PARAMETER for a missing name or `health`; or the error with
// which the driver refused the query-only open. `health` is cleared unless
// the call succeeds.
DWORD GetDeviceLineHealth(LPCWSTR deviceName, SERIAL_LINE_HEALTH* health);

// How the device that the active device `deviceName` ("COM1:") would open now
// compares with `remembered` (null: nothing is remembered), found on a
// query-only open without opening the device itself: a COMM_DEVICE_ verdict in
// `verdict`. ERROR_SUCCESS; ERROR_FILE_NOT_FOUND when no such device is
// active or nothing has its name now; ERROR_NOT_SUPPORTED when its driver
// cannot tell; ERROR_INVALID_PARAMETER for a missing name or `verdict`.
DWORD CompareDeviceIdentity(LPCWSTR deviceName, const COMM_DEVICE_IDENTITY* remembered, DWORD* verdict);
