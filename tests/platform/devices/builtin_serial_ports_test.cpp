#include <fstream>

#include <gtest/gtest.h>

#include "devices/builtin_serial_ports.h"
#include "devices/device_manager.h"
#include "platform/comm.h"
#include "platform/devices.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "support/scripted_serial_device.h"
#include "support/test_device.h"
#include "testkit/pty_pair.h"

namespace {

using platform::devices::FindActiveDevice;
using platform::devices::HostPort;
using platform::devices::ResyncBuiltInSerialPorts;
using platform::devices::SyncBuiltInSerialPorts;
using tavrel::testing::PtyPair;
using tavrel::testing::ScriptedSerialDevices;
using tavrel::testing::TempFolder;
using tavrel::testing::TestDevice;

std::vector<std::u16string> Subkeys(const std::u16string& path)
{
    std::vector<std::u16string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, &key) != 0) {
        return names;
    }
    WCHAR name[256];
    DWORD length = 256;
    for (DWORD i = 0; RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == 0; ++i) {
        names.emplace_back(name, length);
        length = 256;
    }
    RegCloseKey(key);
    return names;
}

std::u16string Text(const std::u16string& path, const WCHAR* name)
{
    WCHAR text[260] = {};
    DWORD size = sizeof(text) - 2;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, &key) == 0) {
        RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
    }
    return text;
}

DWORD Number(const std::u16string& path, const WCHAR* name)
{
    DWORD value = 0xFFFFFFFF;
    DWORD size = sizeof(value);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, 0, &key) == 0) {
        RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(key);
    }
    return value;
}

void SetText(const std::u16string& path, const WCHAR* name, const std::u16string& text)
{
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * 2));
    RegCloseKey(key);
}

void SetBytes(const std::u16string& path, const WCHAR* name, const std::vector<BYTE>& bytes)
{
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr);
    RegSetValueExW(key, name, 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

class BuiltInSerialPortsTest : public ::testing::Test {
protected:
    // A host device stands in as a plain file that exists while it is plugged in.
    HostPort Plug(const std::string& name, const std::string& kernelName, const std::string& friendly)
    {
        const auto path = host_.path() / name;
        std::ofstream{path};
        return HostPort{path.string(), kernelName, friendly};
    }
    void Unplug(const HostPort& port) { std::filesystem::remove(port.path); }
    void Sync(const std::vector<HostPort>& present)
    {
        std::vector<std::string> problems;
        SyncBuiltInSerialPorts(present, problems);
        EXPECT_TRUE(problems.empty());
    }

    // The sync while the device runs, which activates the keys it adds.
    void Resync(const std::vector<HostPort>& present)
    {
        std::vector<std::string> problems;
        ResyncBuiltInSerialPorts(present, problems);
        EXPECT_TRUE(problems.empty()) << problems.front();
    }

    // COM<number>: held by a device whose key lies outside Drivers\BuiltIn,
    // as a virtual port that relays holds its number.
    void HoldAsVirtualPort(DWORD number)
    {
        const std::u16string key = u"Drivers\\Virtual" + platform::ToUtf16(std::to_string(number));
        ScriptedSerialDevices::WriteDriverKey(key, number);
        EXPECT_NE(ActivateDeviceEx(key.c_str(), nullptr, 0, nullptr), nullptr);
    }

    TempFolder host_;
    ScriptedSerialDevices scripted_;   // outlives the device, which ends its ports
    TestDevice device_;
};

TEST_F(BuiltInSerialPortsTest, HostDevicesKeepTheirNumbersAcrossBootsAndReplugs)
{
    const HostPort uart = Plug("ttyS0", "ttyS0", "Serial port ttyS0");
    const HostPort gps = Plug("usb-u-blox_GPS-if00", "ttyACM0", "u-blox GNSS receiver");
    Sync({uart, gps});
    ASSERT_EQ(Subkeys(u"Drivers\\BuiltIn"), (std::vector<std::u16string>{u"ttyS0", u"ttyACM0"}));
    const std::u16string gpsKey = u"Drivers\\BuiltIn\\ttyACM0";
    EXPECT_EQ(Number(u"Drivers\\BuiltIn\\ttyS0", u"Index"), 1u);
    EXPECT_EQ(Number(gpsKey, u"Index"), 2u);
    EXPECT_EQ(Text(gpsKey, u"Prefix"), u"COM");
    EXPECT_EQ(Text(gpsKey, u"FriendlyName"), u"u-blox GNSS receiver");
    EXPECT_EQ(Text(gpsKey, u"HostDevice"), platform::ToUtf16(gps.path));
    EXPECT_EQ(Text(gpsKey, u"Dll"), u"serial.dll");

    Sync({uart, gps});   // the next boot changes nothing
    EXPECT_EQ(Subkeys(u"Drivers\\BuiltIn").size(), 2u);

    Unplug(gps);
    Sync({uart});
    EXPECT_EQ(Subkeys(u"Drivers\\BuiltIn"), std::vector<std::u16string>{u"ttyS0"});
    EXPECT_EQ(Subkeys(u"Drivers\\Detached"), std::vector<std::u16string>{u"ttyACM0"});

    const HostPort adapter = Plug("usb-FTDI-if00-port0", "ttyUSB0", "FT232R USB UART");
    Sync({uart, adapter});
    EXPECT_EQ(Number(u"Drivers\\BuiltIn\\ttyUSB0", u"Index"), 3u);   // 2 stays the receiver's

    Plug("usb-u-blox_GPS-if00", "ttyACM0", "u-blox GNSS receiver");
    Sync({uart, adapter, gps});
    EXPECT_EQ(Number(gpsKey, u"Index"), 2u);
    EXPECT_TRUE(Subkeys(u"Drivers\\Detached").empty());
}

TEST_F(BuiltInSerialPortsTest, KeysThatAPersonMadeOrEditedAreKept)
{
    const HostPort uart = Plug("ttyS0", "ttyS0", "Serial port ttyS0");
    const HostPort pty = Plug("pts-7", "pts7", "pseudo-terminal");
    SetText(u"Drivers\\BuiltIn\\Mine", u"Prefix", u"COM");
    SetText(u"Drivers\\BuiltIn\\Mine", u"HostDevice", platform::ToUtf16(pty.path));
    SetText(u"Drivers\\BuiltIn\\Gone", u"HostDevice", u"/dev/does-not-exist");
    Sync({uart});
    SetText(u"Drivers\\BuiltIn\\ttyS0", u"FriendlyName", u"Edited by hand");

    Sync({uart, pty});
    EXPECT_EQ(Subkeys(u"Drivers\\BuiltIn"), (std::vector<std::u16string>{u"Mine", u"Gone", u"ttyS0"}));
    EXPECT_EQ(Text(u"Drivers\\BuiltIn\\ttyS0", u"FriendlyName"), u"Edited by hand");
    EXPECT_EQ(Number(u"Drivers\\BuiltIn\\Mine", u"Detected"), 0xFFFFFFFFu);   // still the person's
    EXPECT_EQ(Number(u"Drivers\\BuiltIn\\Mine", u"Index"), 0xFFFFFFFFu);
}

// A person's key whose "Index" is one byte holds that number: a device
// plugged in takes another, and the boot makes the port under it.
TEST_F(BuiltInSerialPortsTest, AnIndexOfOneByteThatAPersonWroteHoldsItsNumber)
{
    const HostPort pty = Plug("pts-7", "pts7", "pseudo-terminal");
    SetText(u"Drivers\\BuiltIn\\Mine", u"Prefix", u"COM");
    SetText(u"Drivers\\BuiltIn\\Mine", u"HostDevice", platform::ToUtf16(pty.path));
    SetBytes(u"Drivers\\BuiltIn\\Mine", u"Index", {1});
    Sync({pty, Plug("ttyS0", "ttyS0", "Serial port ttyS0")});
    EXPECT_EQ(Number(u"Drivers\\BuiltIn\\ttyS0", u"Index"), 2u);
}

TEST_F(BuiltInSerialPortsTest, APortMappedWithAnIndexOfOneByteIsMadeUnderThatNumberAtBoot)
{
    PtyPair far;
    device_.MapBuiltInPort(u"Pty", 4, far.slavePath());
    SetBytes(u"Drivers\\BuiltIn\\Pty", u"Index", {4});
    device_.Reboot();
    HANDLE port = CreateFileW(u"COM4:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    CloseHandle(port);
    EXPECT_EQ(FindActiveDevice(u"COM1:"), nullptr);   // not under the first free number
}

TEST_F(BuiltInSerialPortsTest, NumbersRunOneToNineThenZeroAndThenOut)
{
    std::vector<HostPort> ports;
    for (int i = 0; i < 11; ++i) {
        ports.push_back(Plug("tty" + std::to_string(i), "ttyUSB" + std::to_string(i), "adapter"));
    }
    std::vector<std::string> problems;
    SyncBuiltInSerialPorts(ports, problems);
    EXPECT_EQ(Number(u"Drivers\\BuiltIn\\ttyUSB8", u"Index"), 9u);
    EXPECT_EQ(Number(u"Drivers\\BuiltIn\\ttyUSB9", u"Index"), 0u);
    EXPECT_EQ(Subkeys(u"Drivers\\BuiltIn").size(), 10u);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("no free COM number"), std::string::npos);
}

TEST_F(BuiltInSerialPortsTest, WhileTheDeviceRunsANewPortTakesNoNumberInUseAndAGoneOneStaysActive)
{
    HoldAsVirtualPort(1);
    const HostPort uart = Plug("ttyS0", "ttyS0", "Serial port ttyS0");
    Resync({uart});
    EXPECT_EQ(Number(u"Drivers\\BuiltIn\\ttyS0", u"Index"), 2u);   // 1 relays as a virtual port
    const auto uartDevice = FindActiveDevice(u"COM2:");
    ASSERT_NE(uartDevice, nullptr);

    // Gone: its key is parked, but a program that reopens COM2 finds it again when it comes back.
    Unplug(uart);
    Resync({});
    EXPECT_EQ(Subkeys(u"Drivers\\Detached"), std::vector<std::u16string>{u"ttyS0"});
    EXPECT_EQ(FindActiveDevice(u"COM2:"), uartDevice);

    const HostPort adapter = Plug("usb-FTDI-if00-port0", "ttyUSB0", "FT232R USB UART");
    Resync({adapter});
    EXPECT_EQ(Number(u"Drivers\\BuiltIn\\ttyUSB0", u"Index"), 3u);
    EXPECT_NE(FindActiveDevice(u"COM3:"), nullptr);

    // Back: the same number and the same device, not activated a second time.
    Plug("ttyS0", "ttyS0", "Serial port ttyS0");
    Resync({adapter, uart});
    EXPECT_EQ(Number(u"Drivers\\BuiltIn\\ttyS0", u"Index"), 2u);
    EXPECT_EQ(FindActiveDevice(u"COM2:"), uartDevice);
    EXPECT_TRUE(Subkeys(u"Drivers\\Detached").empty());
}

TEST_F(BuiltInSerialPortsTest, APortParkedBeforeTheStartGetsAnotherNumberWhenAVirtualPortHoldsItsOwn)
{
    const HostPort gps = Plug("usb-u-blox_GPS-if00", "ttyACM0", "u-blox GNSS receiver");
    Sync({gps});
    Unplug(gps);
    Sync({});   // parked at boot: not active
    ASSERT_EQ(Number(u"Drivers\\Detached\\ttyACM0", u"Index"), 1u);

    HoldAsVirtualPort(1);
    Plug("usb-u-blox_GPS-if00", "ttyACM0", "u-blox GNSS receiver");
    Resync({gps});
    EXPECT_EQ(Number(u"Drivers\\BuiltIn\\ttyACM0", u"Index"), 2u);
    EXPECT_NE(FindActiveDevice(u"COM2:"), nullptr);
}

}  // namespace
