#include "support/test_device.h"

#include <stdexcept>

#include "platform/boot.h"
#include "platform/devices.h"
#include "platform/registry_key.h"
#include "platform/strings.h"
#include "setup/device_setup.h"

namespace tavrel::testing {

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
    settings.syncHostSerialPorts = followedHost_.has_value();
    settings.followHostSerialPorts = followedHost_.has_value();
    if (followedHost_) {
        settings.hostDevRoot = followedHost_->first;
        settings.hostSysRoot = followedHost_->second;
    }
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

void TestDevice::FollowHost(const std::filesystem::path& devRoot, const std::filesystem::path& sysRoot)
{
    followedHost_.emplace(devRoot, sysRoot);
    Reboot();
}

std::filesystem::path TestDevice::PortLink(int number) const
{
    return portFolder() / ("COM" + std::to_string(number));
}

void TestDevice::InstallVirtualPortDriver(const std::filesystem::path& module)
{
    if (!setup::InstallVirtualPortDriver(module)) {
        throw std::runtime_error("cannot install the virtual port driver");
    }
}

void TestDevice::WriteVirtualPortKey(int number)
{
    if (!setup::WriteVirtualPortKey(number)) {
        throw std::runtime_error("cannot write a virtual port key");
    }
}

void TestDevice::MapBuiltInPort(const std::u16string& keyName, int number, const std::string& hostDevice)
{
    if (!setup::MapBuiltInPort(keyName, number, hostDevice)) {
        throw std::runtime_error("cannot map a built-in port");
    }
}

HANDLE TestDevice::ActivateBuiltInPort(const std::u16string& keyName, int number, const std::string& hostDevice)
{
    MapBuiltInPort(keyName, number, hostDevice);
    const std::u16string keyPath = u"Drivers\\BuiltIn\\" + keyName;
    if (!platform::RegistryKey(HKEY_LOCAL_MACHINE, keyPath, platform::RegistryKey::Open::Existing)
             .SetText(u"Dll", u"serial.dll")) {
        return nullptr;
    }
    return ActivateDeviceEx(keyPath.c_str(), nullptr, 0, nullptr);
}

}  // namespace tavrel::testing
