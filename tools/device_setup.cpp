#include "tools/device_setup.h"

#include <system_error>

#include "platform/boot.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace tavrel::tools {
namespace {

// A key under HKEY_LOCAL_MACHINE, created if missing, closed at the end.
class MachineKey {
public:
    explicit MachineKey(const std::u16string& path)
    {
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key_, nullptr) != 0) {
            key_ = nullptr;
        }
    }
    ~MachineKey()
    {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    MachineKey(const MachineKey&) = delete;
    MachineKey& operator=(const MachineKey&) = delete;

    bool SetText(const WCHAR* name, const std::u16string& text)
    {
        return key_ != nullptr &&
               RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))) == 0;
    }
    bool SetNumber(const WCHAR* name, DWORD value)
    {
        return key_ != nullptr &&
               RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) == 0;
    }

private:
    HKEY key_ = nullptr;
};

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
    settings.portFolder = Absolute(settings.portFolder);
    return settings;
}

bool InstallVirtualPortDriver(const std::filesystem::path& module)
{
    const std::filesystem::path target = platform::HostPathOf(kVirtualPortModule);
    std::error_code error;
    std::filesystem::create_directories(target.parent_path(), error);
    return !target.empty() &&
           std::filesystem::copy_file(module, target, std::filesystem::copy_options::overwrite_existing, error);
}

bool WriteVirtualPortKey(int number)
{
    MachineKey key(u"Drivers\\quorvel" + Decimal(number));
    return key.SetText(u"Dll", kVirtualPortModule) && key.SetText(u"Prefix", u"COM") &&
           key.SetText(u"FriendlyName", u"COM:" + Decimal(number) + u" Tavrel") &&
           key.SetNumber(u"Index", static_cast<DWORD>(number));
}

bool MapBuiltInPort(const std::u16string& keyName, int number, const std::string& hostDevice)
{
    MachineKey key(u"Drivers\\BuiltIn\\" + keyName);
    return key.SetText(u"Prefix", u"COM") && key.SetNumber(u"Index", static_cast<DWORD>(number)) &&
           key.SetText(u"HostDevice", platform::ToUtf16(hostDevice));
}

}  // namespace tavrel::tools
