// Who a host serial device is, and whether a device found later under the
// same path is the same one: a USB adapter by its vendor, product and serial
// number (by where it is plugged in when it has no serial number), any other
// device by its device number and owner, and a pseudo-terminal never by its
// number alone, since the kernel gives a freed number to the next terminal.
#pragma once

#include <filesystem>
#include <string>

#include "platform/comm.h"

namespace platform::serial {

// The identity of the device open on `fd`, which was opened through
// `hostPath`. `sysRoot` is normally "/sys"; tests pass a fake tree.
COMM_DEVICE_IDENTITY IdentifyOpenDevice(int fd, const std::string& hostPath,
                                        const std::filesystem::path& sysRoot = "/sys");

// The identity of the device that `hostPath` leads to now, found without
// opening it. ERROR_SUCCESS; ERROR_FILE_NOT_FOUND when nothing is there;
// ERROR_NOT_SUPPORTED when it is no device; ERROR_ACCESS_DENIED when it cannot
// be looked at.
DWORD IdentifyDeviceAt(const std::string& hostPath, COMM_DEVICE_IDENTITY& identity,
                       const std::filesystem::path& sysRoot = "/sys");

// A COMM_DEVICE_ verdict on `found` against `remembered`. With nothing
// remembered, any device is taken but a pseudo-terminal named by its number.
//  - a USB device is the same when vendor, product and serial number agree
//    (and, without a serial number, where it is plugged in);
//  - through a link, a device without a USB identity is the same when the
//    link still leads to a device of the same owner, unless it leads to the
//    pseudo-terminal number that went away and was not made anew since;
//  - named directly, it is the same when its device number and owner are,
//    but a pseudo-terminal never is.
DWORD CompareDeviceIdentities(const COMM_DEVICE_IDENTITY* remembered, const COMM_DEVICE_IDENTITY& found);

}  // namespace platform::serial
