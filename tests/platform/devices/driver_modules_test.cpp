// Driver module files come from the device's file system only: a module is a
// regular file whose real path, links followed, lies inside the device's fs/.
// Anything else is a missing module, as the loader reports it.
#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/boot.h"
#include "platform/devices.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "support/test_device.h"

namespace {

using namespace tavrel::testing;
namespace fs = std::filesystem;

class DriverModuleFiles : public ::testing::Test {
protected:
    DriverModuleFiles()
    {
        device_.InstallVirtualPortDriver(QUORVEL_MODULE_PATH);
        fs::create_directories(Windows());
        fs::copy_file(QUORVEL_MODULE_PATH, outside_.path() / "x.dll");
    }

    fs::path Windows() const { return device_.root() / "fs" / "Windows"; }

    // Activates a virtual port through a driver key whose "Dll" is `dll`;
    // the error when that fails, ERROR_SUCCESS when it worked (the port is
    // then deactivated again).
    static DWORD ActivationError(const std::u16string& dll)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Linked", 0, nullptr, 0, 0, nullptr, &key, nullptr), 0);
        const DWORD index = 6;
        RegSetValueExW(key, u"Dll", 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                       static_cast<DWORD>((dll.size() + 1) * sizeof(WCHAR)));
        RegSetValueExW(key, u"Prefix", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"COM"), 8);
        RegSetValueExW(key, u"Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&index), sizeof index);
        RegCloseKey(key);
        const HANDLE device = ActivateDeviceEx(u"Drivers\\Linked", nullptr, 0, nullptr);
        if (device == nullptr) {
            return GetLastError();
        }
        DeactivateDevice(device);
        return ERROR_SUCCESS;
    }

    TempFolder outside_;
    TestDevice device_;
};

TEST_F(DriverModuleFiles, ALinkLeadingOutOfTheDeviceIsAMissingModule)
{
    fs::create_symlink(outside_.path() / "x.dll", Windows() / "x.dll");
    fs::create_directory_symlink(outside_.path(), Windows() / "Outside");
    EXPECT_EQ(ActivationError(u"\\Windows\\x.dll"), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(ActivationError(u"x.dll"), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(ActivationError(u"\\Windows\\Outside\\x.dll"), ERROR_MOD_NOT_FOUND);
    // The link is refused, not the module: the same file inside the device loads.
    EXPECT_EQ(ActivationError(u"\\Program Files\\Tavrel\\quorvel.dll"), ERROR_SUCCESS);
}

TEST_F(DriverModuleFiles, ALinkThatStaysInsideTheDeviceLoads)
{
    fs::create_symlink("../Program Files/Tavrel/quorvel.dll", Windows() / "relative.dll");
    fs::create_symlink(device_.root() / "fs" / "Program Files" / "Tavrel" / "quorvel.dll", Windows() / "absolute.dll");
    EXPECT_EQ(ActivationError(u"\\Windows\\relative.dll"), ERROR_SUCCESS);
    EXPECT_EQ(ActivationError(u"absolute.dll"), ERROR_SUCCESS);
    fs::create_symlink(Windows() / "missing.dll", Windows() / "dangling.dll");
    EXPECT_EQ(ActivationError(u"dangling.dll"), ERROR_MOD_NOT_FOUND);
}

TEST_F(DriverModuleFiles, OnlyARegularFileIsAModule)
{
    ASSERT_EQ(::mkfifo((Windows() / "fifo.dll").c_str(), 0600), 0);
    fs::create_directory(Windows() / "folder.dll");
    fs::create_symlink("/dev/zero", Windows() / "device.dll");
    for (const char16_t* dll : {u"fifo.dll", u"folder.dll", u"device.dll"}) {
        EXPECT_EQ(ActivationError(dll), ERROR_MOD_NOT_FOUND);
    }
}

TEST_F(DriverModuleFiles, ADeviceRootReachedThroughALinkStillLoadsItsModules)
{
    const fs::path linkedRoot = outside_.path() / "linked-root";
    fs::create_directory_symlink(device_.root(), linkedRoot);
    platform::ShutdownDevice();
    platform::DeviceSettings settings;
    settings.deviceRoot = linkedRoot;
    settings.portFolder = device_.portFolder();
    settings.syncHostSerialPorts = false;
    ASSERT_TRUE(platform::BootDevice(settings).ok);
    EXPECT_EQ(ActivationError(u"\\Program Files\\Tavrel\\quorvel.dll"), ERROR_SUCCESS);
}

}  // namespace
