#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/boot.h"
#include "platform/comm.h"
#include "platform/devices.h"
#include "platform/driver_calls.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "support/scripted_serial_device.h"
#include "support/test_device.h"
#include "testkit/pty_pair.h"

namespace {

using namespace tavrel::testing;

void SetText(const std::u16string& keyPath, const WCHAR* name, const std::u16string& text)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr), 0);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * 2));
    RegCloseKey(key);
}

void SetBytes(const std::u16string& keyPath, const WCHAR* name, const std::vector<BYTE>& bytes)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, 0, &key), 0);
    RegSetValueExW(key, name, 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

void DeleteValue(const std::u16string& keyPath, const WCHAR* name)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, 0, &key), 0);
    RegDeleteValueW(key, name);
    RegCloseKey(key);
}

class DeviceManagerTest : public ::testing::Test {
protected:
    void TearDown() override { platform::ShutdownDevice(); }

    HANDLE Activate(const std::u16string& key) { return ActivateDeviceEx(key.c_str(), nullptr, 0, nullptr); }

    ScriptedSerialDevices devices_;
};

TEST_F(DeviceManagerTest, ActivationNeedsAKeyAModuleAndAValidName)
{
    EXPECT_EQ(Activate(u"Drivers\\Missing"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\NoModule", 4);
    DeleteValue(u"Drivers\\NoModule", u"Dll");
    EXPECT_EQ(Activate(u"Drivers\\NoModule"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

    SetText(u"Drivers\\NoModule", u"Dll", u"\\Program Files\\none.dll");
    EXPECT_EQ(Activate(u"Drivers\\NoModule"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\BadPrefix", 4);
    SetText(u"Drivers\\BadPrefix", u"Prefix", u"COM1");
    EXPECT_EQ(Activate(u"Drivers\\BadPrefix"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(devices_.Port(4).Count(SerialCall::Activate), 0u);
}

TEST_F(DeviceManagerTest, ANameIsActiveOnceAndFreeAgainAfterDeactivation)
{
    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\First", 4);
    ScriptedSerialDevices::WriteDriverKey(u"\\Drivers\\Second", 4);
    HANDLE first = Activate(u"Drivers\\First");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Activate(u"\\Drivers\\Second"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(devices_.Port(4).Count(SerialCall::Activate), 1u);

    EXPECT_EQ(CloseHandle(first), FALSE);   // an activation handle is not a kernel handle
    EXPECT_EQ(DeactivateDevice(first), TRUE);
    EXPECT_EQ(DeactivateDevice(first), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HANDLE second = Activate(u"\\Drivers\\Second");
    EXPECT_NE(second, nullptr);
    EXPECT_NE(second, first);
}

TEST_F(DeviceManagerTest, AKeyWithoutIndexTakesTheFirstFreeNumber)
{
    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\One", 1);
    ASSERT_NE(Activate(u"Drivers\\One"), nullptr);
    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\Any", 0);
    DeleteValue(u"Drivers\\Any", u"Index");
    ASSERT_NE(Activate(u"Drivers\\Any"), nullptr);
    EXPECT_EQ(devices_.Port(2).Count(SerialCall::Activate), 1u);
    HANDLE port = CreateFileW(u"com2:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    CloseHandle(port);
}

// "Index" is read as every number of the registry is: hex:04 is COM4, of
// whatever type; one that holds no number counts as none.
TEST_F(DeviceManagerTest, AnIndexOfOneToFourBytesNamesTheDevice)
{
    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\Short", 0);
    ASSERT_NO_FATAL_FAILURE(SetBytes(u"Drivers\\Short", u"Index", {4}));
    ASSERT_NE(Activate(u"Drivers\\Short"), nullptr);
    EXPECT_EQ(devices_.Port(4).Count(SerialCall::Activate), 1u);
    HANDLE port = CreateFileW(u"COM4:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    CloseHandle(port);

    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\Ten", 0);
    ASSERT_NO_FATAL_FAILURE(SetBytes(u"Drivers\\Ten", u"Index", {10, 0}));
    EXPECT_EQ(Activate(u"Drivers\\Ten"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\TooLong", 0);
    ASSERT_NO_FATAL_FAILURE(SetBytes(u"Drivers\\TooLong", u"Index", {6, 0, 0, 0, 0}));
    ASSERT_NE(Activate(u"Drivers\\TooLong"), nullptr);
    EXPECT_EQ(devices_.Port(1).Count(SerialCall::Activate), 1u);   // the first free number
    EXPECT_EQ(devices_.Port(6).Count(SerialCall::Activate), 0u);
}

TEST_F(DeviceManagerTest, AFailedInitGivesTheDriversReason)
{
    devices_.Port(6).Fail(SerialCall::Activate, ERROR_DEV_NOT_EXIST);
    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\Six", 6);
    EXPECT_EQ(Activate(u"Drivers\\Six"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_DEV_NOT_EXIST);
    devices_.Port(6).Succeed(SerialCall::Activate);
    EXPECT_NE(Activate(u"Drivers\\Six"), nullptr);   // the name was not left taken
}

TEST_F(DeviceManagerTest, APortIsOpenForDataOnceAtATime)
{
    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\Port", 5);
    ASSERT_NE(Activate(u"Drivers\\Port"), nullptr);
    EXPECT_EQ(CreateFileW(u"COM7:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    HANDLE first = CreateFileW(u"COM5:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileW(u"COM5:", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    HANDLE query = CreateFileW(u"COM5:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(query, INVALID_HANDLE_VALUE);
    CloseHandle(query);
    EXPECT_EQ(CloseHandle(first), TRUE);
    HANDLE again = CreateFileW(u"COM5:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST_F(DeviceManagerTest, DeactivationClosesOpenFilesAndTheirHandlesFailAfterwards)
{
    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\Port", 5);
    HANDLE device = Activate(u"Drivers\\Port");
    HANDLE file = CreateFileW(u"COM5:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_EQ(DeactivateDevice(device), TRUE);
    EXPECT_FALSE(devices_.Port(5).IsOpen());
    EXPECT_FALSE(devices_.Port(5).IsActive());

    BYTE buffer[4];
    DWORD count = 9;
    EXPECT_EQ(ReadFile(file, buffer, 4, &count, nullptr), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
    EXPECT_EQ(count, 0u);
    DCB dcb{};
    EXPECT_EQ(GetCommState(file, &dcb), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
    EXPECT_EQ(CloseHandle(file), TRUE);
    EXPECT_EQ(devices_.Port(5).Count(SerialCall::Close), 1u);
}

TEST_F(DeviceManagerTest, CommCallsNeedAPortHandleAndSynchronousUse)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DCB dcb{};
    EXPECT_EQ(GetCommState(event, &dcb), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(PurgeComm(nullptr, PURGE_RXCLEAR), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(event);

    ScriptedSerialDevices::WriteDriverKey(u"Drivers\\Port", 5);
    ASSERT_NE(Activate(u"Drivers\\Port"), nullptr);
    HANDLE file = CreateFileW(u"COM5:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    OVERLAPPED overlapped{};
    BYTE buffer[2] = {1, 2};
    EXPECT_EQ(WriteFile(file, buffer, 2, nullptr, &overlapped), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetCommState(file, nullptr), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DWORD written = 0;
    EXPECT_EQ(WriteFile(file, buffer, 2, &written, nullptr), TRUE);
    EXPECT_EQ(written, 2u);
    CloseHandle(file);
}

TEST(DeviceFileSystem, DevicePathsMapIntoTheRootAndCannotLeaveIt)
{
    EXPECT_TRUE(platform::HostPathOf(u"\\Windows").empty());   // no device is up
    TestDevice device;
    EXPECT_EQ(platform::HostPathOf(u"\\Program Files\\Tavrel\\quorvel.dll"),
              device.root() / "fs" / "Program Files" / "Tavrel" / "quorvel.dll");
    EXPECT_EQ(platform::HostPathOf(u"\\"), device.root() / "fs");
    EXPECT_TRUE(platform::HostPathOf(u"\\Windows\\..\\..\\etc").empty());
    EXPECT_TRUE(platform::HostPathOf(u"\\a/b").empty());
}

// Waits up to 10 s until a call on the file has reached its driver.
bool WaitUntilACallIsInTheDriver(HANDLE file)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (platform::DriverCallsInProgress(file) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(SerialDevicesOnPtys, ClosingAHandleWakesACallBlockedOnIt)
{
    PtyPair far;
    TestDevice device;
    device.MapBuiltInPort(u"Pty", 4, far.slavePath());
    device.Reboot();
    HANDLE port = CreateFileW(u"COM4:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS waitForAll{};
    ASSERT_EQ(SetCommTimeouts(port, &waitForAll), TRUE);

    EXPECT_EQ(platform::DriverCallsInProgress(port), 0u);

    std::atomic<bool> returned{false};
    BOOL result = TRUE;
    DWORD error = 0;
    std::thread reader([&] {
        BYTE buffer[16];
        DWORD count = 0;
        result = ReadFile(port, buffer, sizeof buffer, &count, nullptr);
        error = GetLastError();
        returned = true;
    });
    EXPECT_TRUE(WaitUntilACallIsInTheDriver(port));   // the close comes in any case, so the reader ends
    EXPECT_FALSE(returned);   // still waiting for its 16 bytes
    EXPECT_EQ(CloseHandle(port), TRUE);
    reader.join();
    EXPECT_EQ(result, FALSE);
    EXPECT_EQ(error, ERROR_OPERATION_ABORTED);
}

TEST(Boot, ACorruptRegistryFileIsReportedAndTheDeviceStillComesUp)
{
    TempFolder root;
    std::filesystem::create_directories(root.path() / "registry");
    const std::string corrupt = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Drivers]\n\"Index\"=dword:zz\n";
    WriteWholeFile(root.path() / "registry" / "system.reg", corrupt);
    platform::DeviceSettings settings;
    settings.deviceRoot = root.path();
    settings.syncHostSerialPorts = false;
    const platform::BootResult result = platform::BootDevice(settings);
    EXPECT_FALSE(result.ok);
    ASSERT_FALSE(result.problems.empty());
    EXPECT_NE(result.problems[0].find("system.reg:4"), std::string::npos) << result.problems[0];
    // The per-user hive works; the broken one refuses every call and stays as it was.
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software", 0, nullptr, 0, 0, nullptr, &key, nullptr), 0);
    RegCloseKey(key);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, nullptr, 0, 0, nullptr, &key, nullptr),
              static_cast<LONG>(ERROR_BADDB));
    platform::ShutdownDevice();
    EXPECT_EQ(ReadWholeFile(root.path() / "registry" / "system.reg"), corrupt);
}

}  // namespace
