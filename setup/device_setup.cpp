#include "setup/device_setup.h"

#include <system_error>

#include "platform/boot.h"
#include "platform/registry.h"
#include "platform/registry_key.h"
#include "platform/strings.h"
#include "setup/module_record.h"

namespace tavrel::setup {
namespace {

std::filesystem::path Absolute(const std::filesystem::path& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal();
}

std::u16string Decimal(int number)
{
    return platform::ToUtf16(std::to_string(number));
}

}  // namespace

platform::DeviceSettings AbsoluteDeviceSettings()
{
    platform::DeviceSettings settings = platform::DeviceSettingsFromEnvironment();
    settings.deviceRoot = Absolute(settings.deviceRoot);
    if (!settings.portFolder.empty()) {
        settings.portFolder = Absolute(settings.portFolder);
    }
    return settings;
}

bool InstallVirtualPortDriver(const std::filesystem::path& module)
{
    const std::filesystem::path target = platform::HostPathOf(kVirtualPortModule);
    std::error_code error;
    std::filesystem::create_directories(target.parent_path(), error);
    return !target.empty() &&
           std::filesystem::copy_file(module, target, std::filesystem::copy_options::overwrite_existing, error) &&
           RecordInstalledModule(target).empty();
}

bool WriteVirtualPortKey(int number)
{
    const platform::RegistryKey key(HKEY_LOCAL_MACHINE, u"Drivers\\quorvel" + Decimal(number),
                                    platform::RegistryKey::Open::OrCreate);
    return key.SetText(u"Dll", kVirtualPortModule) && key.SetText(u"Prefix", u"COM") &&
           key.SetText(u"FriendlyName", u"COM:" + Decimal(number) + u" Tavrel") &&
           key.SetNumber(u"Index", static_cast<DWORD>(number));
}

bool MapBuiltInPort(const std::u16string& keyName, int number, const std::string& hostDevice)
{
    const platform::RegistryKey key(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\" + keyName,
                                    platform::RegistryKey::Open::OrCreate);
    return key.SetText(u"Prefix", u"COM") && key.SetNumber(u"Index", static_cast<DWORD>(number)) &&
           key.SetText(u"HostDevice", platform::ToUtf16(hostDevice));
}

}  // namespace tavrel::setup
