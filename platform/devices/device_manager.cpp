// ActivateDeviceEx and DeactivateDevice. Activation handles have a space of
// their own (odd multiples of two), so CloseHandle cannot take one and no
// kernel handle is ever mistaken for one.
#include "devices/device_manager.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "devices/device_paths.h"
#include "devices/driver_modules.h"
#include "platform/devices.h"
#include "platform/fail_with.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "platform/registry_number.h"
#include "platform/strings.h"

namespace platform::devices {
namespace {

struct ActiveDevices {
    std::mutex lock;
    std::map<ULONG_PTR, std::shared_ptr<Device>> byHandle;
    std::vector<std::u16string> reservedNames;   // taken, or being initialised
    ULONG_PTR next = 0;
};

ActiveDevices& Active()
{
    static ActiveDevices active;
    return active;
}

bool SameName(std::u16string_view left, std::u16string_view right)
{
    auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; };
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [&](char16_t a, char16_t b) { return fold(a) == fold(b); });
}

bool NameTaken(const ActiveDevices& active, std::u16string_view name)
{
    return std::any_of(active.reservedNames.begin(), active.reservedNames.end(),
                       [&](const auto& taken) { return SameName(taken, name); });
}

void ReleaseName(const std::u16string& name)
{
    ActiveDevices& active = Active();
    std::lock_guard guard(active.lock);
    std::erase_if(active.reservedNames, [&](const auto& taken) { return SameName(taken, name); });
}

std::u16string DeviceName(const std::u16string& prefix, DWORD index)
{
    return prefix + static_cast<char16_t>(u'0' + index) + u':';
}

// Reserves Prefix + index + ":"; without an "Index" (or with one that holds
// no number) the first free number, 1 to 9 and then 0, as the device manager
// of the device picks it.
std::optional<std::u16string> ReserveName(const std::u16string& prefix, std::optional<DWORD> index, DWORD& chosen)
{
    ActiveDevices& active = Active();
    std::lock_guard guard(active.lock);
    const std::vector<DWORD> candidates = index ? std::vector<DWORD>{*index}
                                                : std::vector<DWORD>{1, 2, 3, 4, 5, 6, 7, 8, 9, 0};
    for (DWORD candidate : candidates) {
        std::u16string name = DeviceName(prefix, candidate);
        if (!NameTaken(active, name)) {
            active.reservedNames.push_back(name);
            chosen = candidate;
            return name;
        }
    }
    return std::nullopt;
}

HANDLE AddActive(std::shared_ptr<Device> device)
{
    ActiveDevices& active = Active();
    std::lock_guard guard(active.lock);
    const ULONG_PTR value = ++active.next * 4 + 2;
    active.byHandle.emplace(value, std::move(device));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Device> TakeActive(HANDLE handle)
{
    ActiveDevices& active = Active();
    std::lock_guard guard(active.lock);
    const auto found = active.byHandle.find(reinterpret_cast<ULONG_PTR>(handle));
    if (found == active.byHandle.end()) {
        return nullptr;
    }
    std::shared_ptr<Device> device = std::move(found->second);
    active.byHandle.erase(found);
    return device;
}

// The values of a driver key that the device manager itself reads.
struct DriverKey {
    std::u16string dll;
    std::u16string prefix;
    std::optional<DWORD> index;
};

std::optional<std::u16string> ReadText(HKEY key, const WCHAR* name)
{
    WCHAR text[MAX_PATH] = {};
    DWORD size = sizeof(text) - sizeof(WCHAR);
    DWORD type = 0;
    const LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    if (result != static_cast<LONG>(ERROR_SUCCESS) || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    return std::u16string(text);
}

bool IsValidPrefix(const std::u16string& prefix)
{
    return prefix.size() == 3 && std::all_of(prefix.begin(), prefix.end(), [](char16_t c) {
               return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
           });
}

// Reads the driver key; the error is the reason when it cannot be used.
DWORD ReadDriverKey(LPCWSTR path, DriverKey& key)
{
    HKEY handle = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &handle);
    if (opened != static_cast<LONG>(ERROR_SUCCESS)) {
        return static_cast<DWORD>(opened);
    }
    const auto dll = ReadText(handle, u"Dll");
    const auto prefix = ReadText(handle, u"Prefix");
    key.index = QueryRegistryNumber(handle, u"Index");
    RegCloseKey(handle);
    if (!dll) {
        return ERROR_MOD_NOT_FOUND;
    }
    if (!prefix || !IsValidPrefix(*prefix) || (key.index && *key.index > 9)) {
        return ERROR_INVALID_PARAMETER;
    }
    key.dll = *dll;
    key.prefix = *prefix;
    return ERROR_SUCCESS;
}

std::u16string WithoutLeadingBackslash(LPCWSTR path)
{
    std::u16string text(path);
    return text.starts_with(u'\\') ? text.substr(1) : text;
}

}  // namespace

std::shared_ptr<Device> FindActiveDevice(std::u16string_view name)
{
    ActiveDevices& active = Active();
    std::lock_guard guard(active.lock);
    for (const auto& [handle, device] : active.byHandle) {
        if (SameName(device->name(), name)) {
            return device;
        }
    }
    return nullptr;
}

void DeactivateAllDevices()
{
    std::vector<HANDLE> handles;
    {
        ActiveDevices& active = Active();
        std::lock_guard guard(active.lock);
        for (const auto& entry : active.byHandle) {
            handles.push_back(reinterpret_cast<HANDLE>(entry.first));
        }
    }
    std::reverse(handles.begin(), handles.end());
    for (HANDLE handle : handles) {
        DeactivateDevice(handle);
    }
}

}  // namespace platform::devices

HANDLE ActivateDeviceEx(LPCWSTR deviceKey, const REGINI*, DWORD entryCount, LPVOID)
{
    using namespace platform::devices;
    if (deviceKey == nullptr) {
        return platform::FailWith(ERROR_INVALID_PARAMETER, nullptr);
    }
    if (entryCount != 0) {
        // Extra values for the driver's active key are not offered here.
        return platform::FailWith(ERROR_NOT_SUPPORTED, nullptr);
    }
    DriverKey key;
    if (const DWORD error = ReadDriverKey(deviceKey, key); error != ERROR_SUCCESS) {
        return platform::FailWith(error, nullptr);
    }
    STREAM_DRIVER_ENTRIES entries{};
    if (const DWORD error = ResolveDriverModule(key.dll, key.prefix, entries); error != ERROR_SUCCESS) {
        return platform::FailWith(error, nullptr);
    }
    DWORD index = 0;
    const auto name = ReserveName(key.prefix, key.index, index);
    if (!name) {
        return platform::FailWith(ERROR_ALREADY_EXISTS, nullptr);
    }
    auto device = std::make_shared<Device>(*name, WithoutLeadingBackslash(deviceKey), entries,
                                           NodeFolder().string(), PortGroup(), index);
    if (!device->Initialise()) {
        const DWORD error = GetLastError();
        ReleaseName(*name);
        return platform::FailWith(error, nullptr);
    }
    return AddActive(std::move(device));
}

BOOL DeactivateDevice(HANDLE handle)
{
    using namespace platform::devices;
    const std::shared_ptr<Device> device = TakeActive(handle);
    if (device == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    device->Deactivate();
    ReleaseName(device->name());
    return TRUE;
}
