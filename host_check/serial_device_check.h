// Who a host serial device is, and what on the host stands between it and
// Tavrel: a receiver that came back under another name, a user without the
// device's group, another program that has it open, ModemManager probing it
// with modem commands, brltty taking the USB adapter for a braille display.
// Each finding comes with what a person does about it. Nothing here changes
// the host: it reads sysfs, the device folder, /proc, udev's database and the
// installed files, and whatever cannot be read counts as not there.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tavrel::host_check {

// Where the host's parts are; the real ones by default, a made-up tree in tests.
struct HostRoots {
    std::filesystem::path sys = "/sys";
    std::filesystem::path dev = "/dev";
    std::filesystem::path proc = "/proc";
    std::filesystem::path udevData = "/run/udev/data";
    // The file system's root, where installed programs and udev rules are found.
    std::filesystem::path fileSystem = "/";
};

// The roots of a host whose folders all lie under `top` (sys/, dev/, proc/,
// run/udev/data/); "/" gives the real ones.
HostRoots HostRootsUnder(const std::filesystem::path& top);

// A serial device as the host knows it. A field is empty when the host has
// nothing for it: no USB identity for a pseudo-terminal or a built-in UART,
// nothing at all when the path leads nowhere.
struct SerialDeviceIdentity {
    std::string node;                    // the device node the path leads to, links followed
    std::string kernelName;              // ttyUSB0, pts/3: its name below /dev (none elsewhere)
    std::string deviceNumber;            // major:minor, "188:0"
    std::vector<std::string> byIdLinks;  // the /dev/serial/by-id names that lead to it
    std::string usbVendor;               // idVendor, 4 hex digits
    std::string usbProduct;              // idProduct, 4 hex digits
    std::string serialNumber;
    std::string manufacturer;
    std::string product;
    std::string driver;                  // the kernel driver: ftdi_sio, cdc_acm, pl2303 ...
};

SerialDeviceIdentity DescribeSerialDevice(const std::string& path, const HostRoots& roots);

// Something that keeps data from coming in, and what a person does about it.
// `fix` may hold several lines (a udev rule stands on a line of its own).
struct Obstacle {
    std::string what;
    std::string fix;
};

// What stands in the way of reading the device at `path`, in this order:
//  - it does not exist (the fix names the by-id links there are now);
//  - this user may not open it for reading and writing;
//  - another program has it open (Tavrel itself does not count);
//  - ModemManager runs, the device is hardware (a pseudo-terminal it leaves
//    alone), and its udev record (run/udev/data/c<major>:<minor>) lacks
//    ID_MM_DEVICE_IGNORE=1;
//  - the device is a USB adapter, or missing, and brltty runs, or is installed
//    with udev rules that start it (not masked by a link to /dev/null in
//    /etc/udev/rules.d).
// Empty when nothing was found.
std::vector<Obstacle> FindObstacles(const std::string& path, const HostRoots& roots);

// Said beside a finding about programs that have a device open when some
// processes' open files could not be looked at (those of other users).
inline constexpr char kUnseenPrograms[] = "(other users' programs cannot be seen)";

// Whether the open files of some processes cannot be looked at from here.
bool SomeProgramsUnseen(const HostRoots& roots);

// The udev rule line that tells ModemManager to leave the device alone: by
// USB vendor and product, else by kernel name; empty when the identity has
// neither (or only names a rule cannot hold).
std::string UdevIgnoreRule(const SerialDeviceIdentity& identity);

}  // namespace tavrel::host_check
