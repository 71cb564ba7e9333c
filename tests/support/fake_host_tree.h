// A made-up host's /sys and /dev, laid out as the kernel and udev lay them
// out, for the host serial port scan and for serial devices that come and go
// while a device follows them.
#pragma once

#include <filesystem>
#include <string>

#include "testkit/temp_folder.h"

namespace tavrel::testing {

// A USB serial receiver: its tty, its product name and its udev by-id link.
struct UsbReceiver {
    std::string kernelName;   // ttyACM0 ...
    std::string product;      // what its USB device calls itself
    std::string byId;         // the link's name under dev/serial/by-id
};

class FakeHostTree {
public:
    FakeHostTree();

    const std::filesystem::path& root() const { return root_.path(); }
    std::filesystem::path sys() const { return root() / "sys"; }
    std::filesystem::path dev() const { return root() / "dev"; }
    std::filesystem::path classTty() const { return sys() / "class" / "tty"; }
    std::filesystem::path byId() const { return dev() / "serial" / "by-id"; }

    // A tty under `deviceFolder` (relative to sys/devices), with its class
    // link, its node in dev and, unless it is virtual, its device link.
    std::filesystem::path AddTty(const std::string& name, const std::filesystem::path& deviceFolder,
                                 bool hasDevice = true);
    // A USB device with its interface; returns the interface folder.
    std::filesystem::path AddUsbDevice(const std::filesystem::path& usbDevice, const std::string& product);
    void AddByIdLink(const std::string& name, const std::filesystem::path& target);

    // A receiver plugged in, in the kernel's and udev's order: sysfs, the
    // node, then the by-id link (and its folders, made with the first).
    // Returns the link, the receiver's stable host path.
    std::filesystem::path PlugIn(const UsbReceiver& receiver);
    // Pulled out: its node and sysfs entries go, then its link, and the
    // by-id folders once they are empty, as udev leaves them.
    void PullOut(const UsbReceiver& receiver);

private:
    static std::filesystem::path UsbDeviceOf(const UsbReceiver& receiver);

    TempFolder root_;
};

}  // namespace tavrel::testing
