// Where the programs of the host reach a device's endpoint: a virtual port's
// link exists while the port is open for data, GetDeviceNodePath tells its
// path, and its pseudo-terminal is given to the device's port group;
// GetDeviceLineHealth tells how the line to its readers fares.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/boot.h"
#include "platform/comm.h"
#include "platform/devices.h"
#include "platform/kernel.h"
#include "support/test_device.h"
#include "testkit/pty_pair.h"
#include "setup/device_setup.h"

namespace {

using namespace tavrel::testing;
namespace fs = std::filesystem;

bool Exists(const fs::path& path)
{
    return fs::exists(fs::symlink_status(path));
}

std::string NodePath(LPCWSTR device, DWORD& error, DWORD size = 512)
{
    std::vector<char> path(size, 'x');
    error = GetDeviceNodePath(device, path.data(), size);
    return size > 0 ? std::string(path.data(), strnlen(path.data(), size)) : std::string();
}

// The driver module and COM2's key on the device that is up. A module stays
// loaded once used, so its file is copied only the first time.
void InstallDriverOnce()
{
    static bool installed = false;
    installed = installed || tavrel::setup::InstallVirtualPortDriver(QUORVEL_MODULE_PATH);
    EXPECT_TRUE(installed);
    EXPECT_TRUE(tavrel::setup::WriteVirtualPortKey(2));
}

class DeviceEndpoints : public ::testing::Test {
protected:
    DeviceEndpoints()
    {
        device_.InstallVirtualPortDriver(QUORVEL_MODULE_PATH);
        device_.WriteVirtualPortKey(2);
        port_ = ActivateDeviceEx(u"Drivers\\quorvel2", nullptr, 0, nullptr);
    }
    ~DeviceEndpoints() override
    {
        if (port_ != nullptr) {
            DeactivateDevice(port_);
        }
    }

    HANDLE Open(DWORD access) const
    {
        return CreateFileW(u"COM2:", access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }

    TestDevice device_;
    HANDLE port_ = nullptr;
};

TEST_F(DeviceEndpoints, AVirtualPortsLinkExistsWhileItIsOpenForDataAndItsPathIsTold)
{
    ASSERT_NE(port_, nullptr);
    const fs::path link = device_.PortLink(2);
    DWORD error = 0;
    EXPECT_FALSE(Exists(link)) << "activated only";
    EXPECT_EQ(NodePath(u"COM2:", error), "");
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);

    const HANDLE query = Open(0);
    ASSERT_NE(query, INVALID_HANDLE_VALUE);
    DCB dcb{};
    EXPECT_EQ(GetCommState(query, &dcb), TRUE);
    EXPECT_FALSE(Exists(link)) << "opened to query only";

    const HANDLE data = Open(GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(data, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_EQ(NodePath(u"COM2:", error), link.string());
    EXPECT_EQ(error, ERROR_SUCCESS);
    EXPECT_EQ(NodePath(u"com2:", error), link.string()) << "device names are case-insensitive";

    const DWORD whole = static_cast<DWORD>(link.string().size() + 1);
    EXPECT_EQ(NodePath(u"COM2:", error, whole), link.string());
    EXPECT_EQ(error, ERROR_SUCCESS);
    EXPECT_EQ(NodePath(u"COM2:", error, whole - 1), "");
    EXPECT_EQ(error, ERROR_INSUFFICIENT_BUFFER);
    char path[8] = "x";
    EXPECT_EQ(GetDeviceNodePath(nullptr, path, sizeof path), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetDeviceNodePath(u"COM2:", nullptr, 0), ERROR_INVALID_PARAMETER);

    EXPECT_EQ(CloseHandle(data), TRUE);
    EXPECT_FALSE(Exists(link));
    EXPECT_EQ(NodePath(u"COM2:", error), "");
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(CloseHandle(query), TRUE);

    EXPECT_EQ(NodePath(u"COM7:", error), "");
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND) << "no such device";
    EXPECT_EQ(DeactivateDevice(port_), TRUE);
    port_ = nullptr;
    EXPECT_EQ(NodePath(u"COM2:", error), "");
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND) << "deactivated";
}

TEST_F(DeviceEndpoints, ABuiltInPortPublishesNothing)
{
    PtyPair receiver;
    device_.MapBuiltInPort(u"Gps", 4, receiver.slavePath());
    device_.Reboot();
    DWORD error = 0;
    EXPECT_EQ(NodePath(u"COM4:", error), "");
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
}

TEST_F(DeviceEndpoints, AVirtualPortsLineHealthIsToldBesideTheRelaysOpen)
{
    ASSERT_NE(port_, nullptr);
    SERIAL_LINE_HEALTH health{};
    EXPECT_EQ(GetDeviceLineHealth(u"COM2:", &health), ERROR_SUCCESS);
    EXPECT_EQ(health.programHasItOpen, FALSE);

    const HANDLE data = Open(GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(data, INVALID_HANDLE_VALUE);
    const int reader = OpenRaw(device_.PortLink(2).string());
    ASSERT_GE(reader, 0);
    health.bytesDropped = 99;
    EXPECT_EQ(GetDeviceLineHealth(u"com2:", &health), ERROR_SUCCESS) << "beside the open for data";
    EXPECT_EQ(health.programHasItOpen, TRUE);
    EXPECT_EQ(health.bytesDropped, 0u);
    ::close(reader);
    EXPECT_EQ(CloseHandle(data), TRUE);

    health.programHasItOpen = TRUE;
    EXPECT_EQ(GetDeviceLineHealth(u"COM7:", &health), ERROR_FILE_NOT_FOUND) << "no such device";
    EXPECT_EQ(health.programHasItOpen, FALSE) << "cleared on failure";
    EXPECT_EQ(GetDeviceLineHealth(nullptr, &health), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetDeviceLineHealth(u"COM2:", nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(DeviceEndpoints, ABuiltInPortHasNoLineHealthToTell)
{
    PtyPair receiver;
    device_.MapBuiltInPort(u"Gps", 4, receiver.slavePath());
    device_.Reboot();
    SERIAL_LINE_HEALTH health{};
    EXPECT_EQ(GetDeviceLineHealth(u"COM4:", &health), ERROR_NOT_SUPPORTED);
}

// The device hands its port group to the driver, which gives the pty to it.
class PortGroupOfTheDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root: root may give its files to any group; other users are tried as "
                            "processes (app_process_test)";
        }
        platform::ShutdownDevice();   // the test device's own boot
    }
    void TearDown() override { platform::ShutdownDevice(); }

    // The pty behind COM2's link once the port is open for data, on a device
    // booted with `group`.
    struct stat PortOnDeviceWithGroup(const std::string& group)
    {
        platform::DeviceSettings settings;
        settings.deviceRoot = device_.root();
        settings.portFolder = device_.portFolder();
        settings.syncHostSerialPorts = false;
        settings.portGroup = group;
        EXPECT_TRUE(platform::BootDevice(settings).ok);
        InstallDriverOnce();
        const HANDLE port = ActivateDeviceEx(u"Drivers\\quorvel2", nullptr, 0, nullptr);
        const HANDLE data = CreateFileW(u"COM2:", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        struct stat slave {};
        EXPECT_EQ(::stat(device_.PortLink(2).c_str(), &slave), 0);
        CloseHandle(data);
        DeactivateDevice(port);
        platform::ShutdownDevice();
        return slave;
    }

    TestDevice device_;
};

TEST_F(PortGroupOfTheDevice, IsDialoutUnlessTheDeviceSaysOtherwise)
{
    const group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    const struct stat shared = PortOnDeviceWithGroup(platform::DeviceSettings{}.portGroup);
    EXPECT_EQ(shared.st_gid, dialout->gr_gid);
    EXPECT_EQ(shared.st_mode & 07777, 0660u);

    const PtyPair asMade;
    struct stat made {};
    ASSERT_EQ(::stat(asMade.slavePath().c_str(), &made), 0);
    const struct stat left = PortOnDeviceWithGroup("");
    EXPECT_EQ(left.st_gid, made.st_gid);
    EXPECT_EQ(left.st_mode & 07777, made.st_mode & 07777);
}

}  // namespace
