#include "support/test_device.h"

#include <stdexcept>

#include "platform/boot.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace tavrel::testing {
namespace {

constexpr const WCHAR* kInstallFolder = u"\\Program Files\\Tavrel";

void SetText(HKEY key, const WCHAR* name, const std::u16string& text)
{
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

void SetNumber(HKEY key, const WCHAR* name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

HKEY CreateKey(const std::u16string& path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr) != 0) {
        throw std::runtime_error("cannot create a registry key");
    }
    return key;
}

std::u16string Decimal(int number)
{
    return platform::ToUtf16(std::to_string(number));
}

}  // namespace

TestDevice::TestDevice()
{
    Boot();
}

TestDevice::~TestDevice()
{
    platform::ShutdownDevice();
}

void TestDevice::Boot()
{
    platform::DeviceSettings settings;
    settings.deviceRoot = root();
    settings.portFolder = portFolder();
    settings.syncHostSerialPorts = false;
    const platform::BootResult result = platform::BootDevice(settings);
    if (!result.ok) {
        throw std::runtime_error("the test device did not boot");
    }
}

void TestDevice::Reboot()
{
    platform::ShutdownDevice();
    Boot();
}

std::filesystem::path TestDevice::PortLink(int number) const
{
    return portFolder() / ("COM" + std::to_string(number));
}

void TestDevice::InstallVirtualPortDriver(const std::filesystem::path& module)
{
    const std::filesystem::path target = platform::HostPathOf(std::u16string(kInstallFolder) + u"\\quorvel.dll");
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(module, target, std::filesystem::copy_options::overwrite_existing);
}

void TestDevice::WriteVirtualPortKey(int number)
{
    HKEY key = CreateKey(u"Drivers\\quorvel" + Decimal(number));
    SetText(key, u"Dll", std::u16string(kInstallFolder) + u"\\quorvel.dll");
    SetText(key, u"Prefix", u"COM");
    SetText(key, u"FriendlyName", u"COM:" + Decimal(number) + u" Tavrel");
    SetNumber(key, u"Index", static_cast<DWORD>(number));
    RegCloseKey(key);
}

void TestDevice::MapBuiltInPort(const std::u16string& keyName, int number, const std::string& hostDevice)
{
    HKEY key = CreateKey(u"\\Drivers\\BuiltIn\\" + keyName);
    SetText(key, u"Prefix", u"COM");
    SetNumber(key, u"Index", static_cast<DWORD>(number));
    SetText(key, u"HostDevice", platform::ToUtf16(hostDevice));
    RegCloseKey(key);
}

}  // namespace tavrel::testing
