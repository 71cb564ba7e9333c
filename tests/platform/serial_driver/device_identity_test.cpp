// Who a serial device is: read from the host (pseudo-terminals, links, a USB
// device's sysfs entries), judged against the device that went away, and
// asked of the driver on an open for data or on a query-only open, which
// leaves the device alone.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "drivers/serial/device_identity.h"
#include "platform/kernel.h"
#include "serial_driver_fixture.h"
#include "support/fake_host_tree.h"
#include "testkit/temp_folder.h"

namespace tavrel::testing {
namespace {

namespace fs = std::filesystem;
using platform::serial::CompareDeviceIdentities;
using platform::serial::IdentifyDeviceAt;

COMM_DEVICE_IDENTITY Identity(DWORD flags, dev_t number, DWORD owner, ULONGLONG link = 0)
{
    COMM_DEVICE_IDENTITY identity{};
    identity.flags = flags;
    identity.deviceNumber = number;
    identity.owner = owner;
    identity.linkNumber = link;
    return identity;
}

COMM_DEVICE_IDENTITY Usb(WORD product, const char* serial, const char* port)
{
    COMM_DEVICE_IDENTITY identity = Identity(COMM_IDENTITY_USB, makedev(188, 0), 0);
    identity.usbVendor = 0x067b;
    identity.usbProduct = product;
    std::strncpy(identity.usbSerial, serial, sizeof identity.usbSerial - 1);
    std::strncpy(identity.usbPort, port, sizeof identity.usbPort - 1);
    return identity;
}

constexpr DWORD kPty = COMM_IDENTITY_PSEUDO_TERMINAL;
constexpr DWORD kLinkedPty = COMM_IDENTITY_PSEUDO_TERMINAL | COMM_IDENTITY_THROUGH_LINK;

TEST(DeviceIdentityRules, OnlyTheDeviceThatWentAwayIsTakenBack)
{
    struct Case {
        const char* what;
        COMM_DEVICE_IDENTITY remembered;
        COMM_DEVICE_IDENTITY found;
        DWORD verdict;
    };
    const Case cases[] = {
        {"the receiver replugged", Usb(0x2303, "A1", "1-1"), Usb(0x2303, "A1", "1-4"), COMM_DEVICE_SAME},
        {"a modem under its name", Usb(0x2303, "A1", "1-1"), Usb(0x1001, "", "1-1"), COMM_DEVICE_OTHER_USB_DEVICE},
        {"a twin without serial numbers", Usb(0x2303, "", "1-1"), Usb(0x2303, "", "1-2"), COMM_DEVICE_OTHER_USB_DEVICE},
        {"a terminal under its name", Usb(0x2303, "", "1-1"), Identity(kPty, makedev(136, 0), 0),
         COMM_DEVICE_OTHER_DEVICE},
        {"a pty by its number", Identity(kPty, makedev(136, 0), 9), Identity(kPty, makedev(136, 0), 9),
         COMM_DEVICE_PSEUDO_TERMINAL_BY_NUMBER},
        {"a link made anew", Identity(kLinkedPty, makedev(136, 0), 9, 11), Identity(kLinkedPty, makedev(136, 0), 9, 12),
         COMM_DEVICE_SAME},
        {"a link left to a number taken since", Identity(kLinkedPty, makedev(136, 0), 9, 11),
         Identity(kLinkedPty, makedev(136, 0), 9, 11), COMM_DEVICE_STALE_LINK},
        {"a link to another user's pty", Identity(kLinkedPty, makedev(136, 0), 9, 11),
         Identity(kLinkedPty, makedev(136, 4), 8, 12), COMM_DEVICE_OTHER_OWNER},
        {"a serial port named directly", Identity(0, makedev(4, 64), 0), Identity(0, makedev(4, 64), 0),
         COMM_DEVICE_SAME},
        {"another serial port", Identity(0, makedev(4, 64), 0), Identity(0, makedev(4, 65), 0),
         COMM_DEVICE_OTHER_DEVICE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareDeviceIdentities(&c.remembered, c.found), c.verdict) << c.what;
    }
    // Nothing remembered (a receiver missing at the start): anything but a pty by its number.
    EXPECT_EQ(CompareDeviceIdentities(nullptr, Identity(kPty, makedev(136, 2), 9)),
              COMM_DEVICE_PSEUDO_TERMINAL_BY_NUMBER);
    EXPECT_EQ(CompareDeviceIdentities(nullptr, Identity(kLinkedPty, makedev(136, 2), 9)), COMM_DEVICE_SAME);
}

TEST(DeviceIdentityOnTheHost, TellsPtysLinksAndUsbDevicesApart)
{
    PtyPair pty;
    TempFolder folder;
    COMM_DEVICE_IDENTITY direct{};
    ASSERT_EQ(IdentifyDeviceAt(pty.slavePath(), direct), ERROR_SUCCESS);
    struct stat node {};
    ASSERT_EQ(::stat(pty.slavePath().c_str(), &node), 0);
    EXPECT_EQ(direct.flags, COMM_IDENTITY_PSEUDO_TERMINAL);
    EXPECT_EQ(direct.deviceNumber, node.st_rdev);
    EXPECT_EQ(direct.owner, ::getuid());

    const fs::path link = folder.path() / "gps";
    fs::create_symlink(pty.slavePath(), link);
    COMM_DEVICE_IDENTITY linked{};
    ASSERT_EQ(IdentifyDeviceAt(link.string(), linked), ERROR_SUCCESS);
    EXPECT_EQ(linked.flags, COMM_IDENTITY_PSEUDO_TERMINAL | COMM_IDENTITY_THROUGH_LINK);
    struct stat linkNode {};
    ASSERT_EQ(::lstat(link.c_str(), &linkNode), 0);
    EXPECT_EQ(linked.linkNumber, linkNode.st_ino);
    EXPECT_EQ(linked.deviceNumber, node.st_rdev);

    COMM_DEVICE_IDENTITY none{};
    EXPECT_EQ(IdentifyDeviceAt((folder.path() / "missing").string(), none), ERROR_FILE_NOT_FOUND);
    WriteWholeFile(folder.path() / "file", "");
    EXPECT_EQ(IdentifyDeviceAt((folder.path() / "file").string(), none), ERROR_NOT_SUPPORTED);

    // A USB adapter, as sysfs describes the character device 1:3 (/dev/null here).
    FakeHostTree host;
    const fs::path usb = "pci0000:00/0000:00:14.0/usb1/1-3";
    const fs::path tty = host.AddTty("ttyUSB0", host.AddUsbDevice(usb, "GPS receiver"));
    WriteWholeFile(host.sys() / "devices" / usb / "serial", "FT4XK3RJ\n");
    fs::create_directories(host.sys() / "dev" / "char");
    fs::create_directory_symlink(tty, host.sys() / "dev" / "char" / "1:3");
    COMM_DEVICE_IDENTITY adapter{};
    ASSERT_EQ(IdentifyDeviceAt("/dev/null", adapter, host.sys()), ERROR_SUCCESS);
    EXPECT_EQ(adapter.flags, COMM_IDENTITY_USB);
    EXPECT_EQ(adapter.usbVendor, 0x0403);
    EXPECT_EQ(adapter.usbProduct, 0x6001);
    EXPECT_STREQ(adapter.usbSerial, "FT4XK3RJ");
    EXPECT_STREQ(adapter.usbPort, "1-3");
}

// The number of this process's descriptors open on `path`.
int DescriptorsOn(const std::string& path)
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        count += fs::read_symlink(entry.path(), error) == path ? 1 : 0;
    }
    return count;
}

TEST_F(SerialDriverInstance, AQueryOnlyOpenTellsWhoTheDeviceIsWithoutOpeningIt)
{
    const DRIVER_CONTEXT query = driver_.Open(device_, 0, 0);
    ASSERT_NE(query, 0u);
    EXPECT_EQ(DescriptorsOn(pty_.slavePath()), 0);
    COMM_DEVICE_IDENTITY found{};
    ASSERT_TRUE(driver_.IOControl(query, IOCTL_SERIAL_GET_DEVICE_IDENTITY, nullptr, 0,
                                  reinterpret_cast<BYTE*>(&found), sizeof found, nullptr));
    EXPECT_EQ(found.flags, COMM_IDENTITY_PSEUDO_TERMINAL);
    // Nothing else can be asked of it.
    DCB dcb{};
    EXPECT_FALSE(driver_.IOControl(query, IOCTL_SERIAL_GET_DCB, nullptr, 0, reinterpret_cast<BYTE*>(&dcb),
                                   sizeof dcb, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // The open for data holds the device the query-only open described.
    OpenPort();
    COMM_DEVICE_IDENTITY held{};
    ASSERT_TRUE(Control(IOCTL_SERIAL_GET_DEVICE_IDENTITY, nullptr, 0, &held, sizeof held));
    EXPECT_EQ(std::memcmp(&held, &found, sizeof held), 0);
    EXPECT_EQ(driver_.Close(query), TRUE);
    EXPECT_EQ(DescriptorsOn(pty_.slavePath()), 1);
}

}  // namespace
}  // namespace tavrel::testing
