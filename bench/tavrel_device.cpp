#include "bench/tavrel_device.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

#include "platform/boot.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "tools/device_setup.h"

namespace tavrel::bench {
namespace {

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using OpenKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

OpenKey Open(HKEY root, const std::u16string& path)
{
    HKEY key = nullptr;
    return OpenKey(RegOpenKeyExW(root, path.c_str(), 0, 0, &key) == ERROR_SUCCESS ? key : nullptr);
}

// A built-in port as its key under Drivers\BuiltIn describes it.
struct BuiltInPort {
    std::u16string keyName;
    std::optional<DWORD> index;
    std::string hostDevice;
};

BuiltInPort Describe(const std::u16string& keyName)
{
    BuiltInPort port{keyName, std::nullopt, {}};
    const OpenKey key = Open(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\" + keyName);
    DWORD index = 0;
    DWORD size = sizeof(index);
    if (key && RegQueryValueExW(key.get(), u"Index", nullptr, nullptr, reinterpret_cast<BYTE*>(&index), &size) ==
                   ERROR_SUCCESS) {
        port.index = index;
    }
    WCHAR device[MAX_PATH] = {};
    size = sizeof(device) - sizeof(WCHAR);
    if (key && RegQueryValueExW(key.get(), u"HostDevice", nullptr, nullptr, reinterpret_cast<BYTE*>(device),
                                &size) == ERROR_SUCCESS) {
        port.hostDevice = platform::ToUtf8(device);
    }
    return port;
}

std::vector<BuiltInPort> BuiltInPorts()
{
    std::vector<BuiltInPort> ports;
    const OpenKey builtIn = Open(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn");
    for (DWORD i = 0; builtIn; ++i) {
        WCHAR name[256] = {};
        DWORD length = 256;
        if (RegEnumKeyExW(builtIn.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        ports.push_back(Describe(std::u16string(name, length)));
    }
    return ports;
}

// Renumbers the ports other than the input that sit on a number in `needed`.
bool MoveOutOfTheWay(const std::vector<int>& needed, const std::string& inputTty)
{
    int nextFree = 10;
    bool moved = true;
    for (const BuiltInPort& port : BuiltInPorts()) {
        const bool inTheWay = port.index && std::find(needed.begin(), needed.end(), static_cast<int>(*port.index)) !=
                                                needed.end();
        if (inTheWay && port.hostDevice != inputTty) {
            moved = moved && tools::MapBuiltInPort(port.keyName, nextFree++, port.hostDevice);
        }
    }
    return moved;
}

bool SaveSplit(std::uint32_t mask)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Brenmor\\Tavrel", 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const OpenKey settings(key);
    const DWORD value = mask;
    return RegSetValueExW(settings.get(), u"Split", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value)) == ERROR_SUCCESS;
}

}  // namespace

std::vector<int> OutputNumbers(int count)
{
    const std::vector<int> order = {2, 3, 4, 5, 6, 7, 8, 0, 1};
    return {order.begin(), order.begin() + std::clamp(count, 0, static_cast<int>(order.size()))};
}

std::uint32_t SplitMask(const std::vector<int>& numbers)
{
    std::uint32_t mask = 0;
    for (const int number : numbers) {
        mask |= 1u << (number + 1);
    }
    return mask;
}

void ChooseOutputs(const std::filesystem::path& deviceRoot, const std::filesystem::path& portFolder,
                   const std::vector<int>& outputs, const std::string& inputTty)
{
    platform::DeviceSettings settings;
    settings.deviceRoot = deviceRoot;
    settings.portFolder = portFolder;
    settings.syncHostSerialPorts = false;
    if (!platform::BootDevice(settings).ok) {
        throw std::runtime_error("the device at " + deviceRoot.string() + " does not boot");
    }
    std::vector<int> needed = outputs;
    needed.push_back(kInputPortNumber);
    const bool chosen = MoveOutOfTheWay(needed, inputTty) && SaveSplit(SplitMask(outputs));
    platform::ShutdownDevice();
    if (!chosen) {
        throw std::runtime_error("cannot choose the outputs on the device at " + deviceRoot.string());
    }
}

}  // namespace tavrel::bench
