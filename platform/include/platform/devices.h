// The device manager: stream drivers are activated from their registry keys
// (relative to HKEY_LOCAL_MACHINE) and appear as devices named Prefix, Index
// and a colon, such as "COM5:", which CreateFileW opens.
#pragma once

#include "platform/errors.h"
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
