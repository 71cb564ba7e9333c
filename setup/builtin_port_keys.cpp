#include "setup/builtin_port_keys.h"

#include <algorithm>

#include "platform/registry_key.h"
#include "platform/strings.h"

namespace tavrel::setup {
namespace {

using platform::RegistryKey;

constexpr const WCHAR* kBuiltIn = u"Drivers\\BuiltIn";

RegistryKey PortKey(const std::u16string& keyName)
{
    return RegistryKey(HKEY_LOCAL_MACHINE, std::u16string(kBuiltIn) + u"\\" + keyName, RegistryKey::Open::Existing);
}

BuiltInPortKey Describe(const std::u16string& keyName)
{
    const RegistryKey key = PortKey(keyName);
    return {keyName, key.Number(u"Index"), platform::ToUtf8(key.Text(u"HostDevice").value_or(u""))};
}

bool Holds(const std::vector<int>& numbers, const std::optional<DWORD>& index)
{
    return index && std::find(numbers.begin(), numbers.end(), static_cast<int>(*index)) != numbers.end();
}

// The first number that no port holds, 10 at the lowest: the device's own
// numbers 0 to 9 stay for the input and the virtual ports.
DWORD FirstNumberAboveAll(const std::vector<BuiltInPortKey>& ports)
{
    DWORD next = 10;
    for (const BuiltInPortKey& port : ports) {
        if (port.index) {
            next = std::max(next, *port.index + 1);
        }
    }
    return next;
}

}  // namespace

std::vector<BuiltInPortKey> BuiltInPortKeys()
{
    std::vector<BuiltInPortKey> ports;
    const RegistryKey builtIn(HKEY_LOCAL_MACHINE, kBuiltIn, RegistryKey::Open::Existing);
    for (DWORD i = 0; builtIn; ++i) {
        WCHAR name[MAX_KEY_NAME_LENGTH + 1] = {};
        DWORD length = MAX_KEY_NAME_LENGTH + 1;
        if (RegEnumKeyExW(builtIn.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        ports.push_back(Describe(std::u16string(name, length)));
    }
    return ports;
}

std::string HostDeviceOfPort(DWORD number)
{
    for (const BuiltInPortKey& port : BuiltInPortKeys()) {
        if (port.index == number) {
            return port.hostDevice;
        }
    }
    return {};
}

bool MoveBuiltInPortsOff(const std::vector<int>& numbers, const std::string& keptHostDevice)
{
    const std::vector<BuiltInPortKey> ports = BuiltInPortKeys();
    DWORD next = FirstNumberAboveAll(ports);
    bool moved = true;
    for (const BuiltInPortKey& port : ports) {
        if (Holds(numbers, port.index) && port.hostDevice != keptHostDevice) {
            moved = PortKey(port.keyName).SetNumber(u"Index", next++) && moved;
        }
    }
    return moved;
}

}  // namespace tavrel::setup
