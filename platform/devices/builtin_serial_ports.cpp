#include "devices/builtin_serial_ports.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

#include "devices/device_manager.h"
#include "platform/devices.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "platform/registry_key.h"
#include "platform/strings.h"

namespace platform::devices {
namespace {

constexpr const WCHAR* kBuiltIn = u"Drivers\\BuiltIn";
constexpr const WCHAR* kDetached = u"Drivers\\Detached";
constexpr const WCHAR* kSerialModule = u"serial.dll";
const DWORD kIndexOrder[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0};

// A key of the built-in ports' part of the registry, under HKEY_LOCAL_MACHINE.
class Key : public RegistryKey {
public:
    Key(const std::u16string& path, Open open) : RegistryKey(HKEY_LOCAL_MACHINE, path, open) {}
};

void SetTextIfMissing(const Key& key, const WCHAR* name, const std::u16string& text)
{
    if (!key.Has(name)) {
        key.SetText(name, text);
    }
}

struct KeyInfo {
    std::u16string name;
    std::u16string hostDevice;   // empty when the key names none
    std::optional<DWORD> index;
    bool detected = false;
};

std::u16string Child(const WCHAR* parent, const std::u16string& name)
{
    return std::u16string(parent) + u"\\" + name;
}

std::vector<std::u16string> SubkeyNames(const WCHAR* parent)
{
    std::vector<std::u16string> names;
    Key key(parent, Key::Open::Existing);
    for (DWORD i = 0; key; ++i) {
        WCHAR name[MAX_KEY_NAME_LENGTH + 1];
        DWORD length = MAX_KEY_NAME_LENGTH + 1;
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0) {
            break;
        }
        names.emplace_back(name, length);
    }
    return names;
}

std::vector<KeyInfo> ReadKeys(const WCHAR* parent)
{
    std::vector<KeyInfo> keys;
    for (const std::u16string& name : SubkeyNames(parent)) {
        Key key(Child(parent, name), Key::Open::Existing);
        if (!key) {
            continue;
        }
        keys.push_back({name, key.Text(u"HostDevice").value_or(u""), key.Number(u"Index"),
                        key.Number(u"Detected").value_or(0) == 1});
    }
    return keys;
}

bool HostDeviceExists(const std::u16string& path)
{
    std::error_code error;
    return std::filesystem::exists(ToUtf8(path), error);
}

// Registry names compare without regard to case.
bool SameName(std::u16string_view left, std::u16string_view right)
{
    auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [&](char16_t a, char16_t b) { return fold(a) == fold(b); });
}

bool NameTaken(const std::vector<KeyInfo>& keys, const std::u16string& name)
{
    return std::any_of(keys.begin(), keys.end(), [&](const KeyInfo& key) { return SameName(key.name, name); });
}

// The device active as Prefix + index + ":", or null.
std::shared_ptr<Device> ActiveDevice(const std::u16string& prefix, DWORD index)
{
    return FindActiveDevice(prefix + ToUtf16(std::to_string(index)) + u":");
}

// A device activated from a key below Drivers\BuiltIn. One that is active
// although its key is no longer there was parked while it ran: it stays
// active, so that a program that reopens it finds its host device again when
// it comes back.
bool IsBuiltInDevice(const Device& device)
{
    const std::u16string folder = Child(kBuiltIn, u"");
    return device.registryPath().size() > folder.size() &&
           SameName(std::u16string_view(device.registryPath()).substr(0, folder.size()), folder);
}

std::u16string UniqueName(const std::vector<KeyInfo>& keys, const std::u16string& wanted)
{
    std::u16string name = wanted;
    for (int suffix = 2; NameTaken(keys, name); ++suffix) {
        name = wanted + u"_" + ToUtf16(std::to_string(suffix));
    }
    return name;
}

// Copies the values of one key to a new key and deletes the old one.
void MoveKey(const std::u16string& from, const std::u16string& to)
{
    {
        Key source(from, Key::Open::Existing);
        Key target(to, Key::Open::OrCreate);
        for (DWORD i = 0; source && target; ++i) {
            WCHAR name[MAX_KEY_NAME_LENGTH + 1];
            DWORD nameLength = MAX_KEY_NAME_LENGTH + 1;
            BYTE data[1024];
            DWORD size = sizeof(data);
            DWORD type = 0;
            if (RegEnumValueW(source.get(), i, name, &nameLength, nullptr, &type, data, &size) != 0) {
                break;
            }
            RegSetValueExW(target.get(), name, 0, type, data, size);
        }
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, from.c_str());
}

class Sync {
public:
    explicit Sync(std::vector<std::string>& problems)
        : problems_(problems), builtIn_(ReadKeys(kBuiltIn)), detached_(ReadKeys(kDetached))
    {
    }

    void ParkAbsentDevices()
    {
        for (const KeyInfo& key : std::vector<KeyInfo>(builtIn_)) {
            if (key.detected && !key.hostDevice.empty() && !HostDeviceExists(key.hostDevice)) {
                const std::u16string parked = UniqueName(detached_, key.name);
                MoveKey(Child(kBuiltIn, key.name), Child(kDetached, parked));
                Forget(builtIn_, key.name);
                detached_.push_back(KeyInfo{parked, key.hostDevice, key.index, true});
            }
        }
    }

    void Adopt(const HostPort& port)
    {
        const std::u16string path = ToUtf16(port.path);
        if (const KeyInfo* key = Find(builtIn_, path)) {
            Key existing(Child(kBuiltIn, key->name), Key::Open::Existing);
            FillIn(existing, port);
        } else if (const KeyInfo* parked = Find(detached_, path)) {
            Restore(*parked, port);
        } else {
            Create(port);
        }
    }

private:
    static const KeyInfo* Find(const std::vector<KeyInfo>& keys, const std::u16string& hostDevice)
    {
        const auto found = std::find_if(keys.begin(), keys.end(),
                                        [&](const KeyInfo& key) { return key.hostDevice == hostDevice; });
        return found == keys.end() ? nullptr : &*found;
    }

    static void Forget(std::vector<KeyInfo>& keys, const std::u16string& name)
    {
        std::erase_if(keys, [&](const KeyInfo& key) { return key.name == name; });
    }

    static void FillIn(const Key& key, const HostPort& port)
    {
        SetTextIfMissing(key, u"Dll", kSerialModule);
        SetTextIfMissing(key, u"Prefix", u"COM");
        SetTextIfMissing(key, u"FriendlyName", ToUtf16(port.friendlyName));
    }

    static bool Uses(const std::vector<KeyInfo>& keys, DWORD index)
    {
        return std::any_of(keys.begin(), keys.end(), [index](const KeyInfo& key) { return key.index == index; });
    }

    // A number whose device is active is taken, whatever the keys say: while
    // the device runs, a virtual port may hold it, and a parked port that
    // went while it ran stays active.
    static bool IsActive(DWORD index) { return ActiveDevice(u"COM", index) != nullptr; }

    // Active from a key outside Drivers\BuiltIn, such as a virtual port's.
    static bool HeldByAnotherDriver(DWORD index)
    {
        const std::shared_ptr<Device> device = ActiveDevice(u"COM", index);
        return device != nullptr && !IsBuiltInDevice(*device);
    }

    // The lowest number free of present and parked ports and of active
    // devices; failing that, one that only a parked port holds, which then
    // gives it up.
    std::optional<DWORD> FreeIndex()
    {
        for (DWORD index : kIndexOrder) {
            if (!Uses(builtIn_, index) && !Uses(detached_, index) && !IsActive(index)) {
                return index;
            }
        }
        for (DWORD index : kIndexOrder) {
            if (!Uses(builtIn_, index) && !IsActive(index)) {
                for (const KeyInfo& parked : std::vector<KeyInfo>(detached_)) {
                    if (parked.index == index) {
                        RegDeleteKeyW(HKEY_LOCAL_MACHINE, Child(kDetached, parked.name).c_str());
                        Forget(detached_, parked.name);
                    }
                }
                return index;
            }
        }
        return std::nullopt;
    }

    void Restore(const KeyInfo& parked, const HostPort& port)
    {
        const KeyInfo moved = parked;
        Forget(detached_, moved.name);
        const std::u16string name = UniqueName(builtIn_, moved.name);
        MoveKey(Child(kDetached, moved.name), Child(kBuiltIn, name));
        std::optional<DWORD> index = moved.index;
        Key key(Child(kBuiltIn, name), Key::Open::OrCreate);
        if (!index || Uses(builtIn_, *index) || HeldByAnotherDriver(*index)) {
            index = FreeIndex();
            if (index) {
                key.SetNumber(u"Index", *index);
            }
        }
        FillIn(key, port);
        builtIn_.push_back(KeyInfo{name, moved.hostDevice, index, true});
    }

    void Create(const HostPort& port)
    {
        const std::optional<DWORD> index = FreeIndex();
        if (!index) {
            problems_.push_back("no free COM number for " + port.path);
            return;
        }
        const std::u16string name = UniqueName(builtIn_, ToUtf16(port.kernelName));
        Key key(Child(kBuiltIn, name), Key::Open::OrCreate);
        if (!key) {
            problems_.push_back("cannot write the built-in port key for " + port.path);
            return;
        }
        key.SetText(u"Dll", kSerialModule);
        key.SetText(u"Prefix", u"COM");
        key.SetNumber(u"Index", *index);
        key.SetText(u"FriendlyName", ToUtf16(port.friendlyName));
        key.SetText(u"HostDevice", ToUtf16(port.path));
        key.SetNumber(u"Detected", 1);
        builtIn_.push_back(KeyInfo{name, ToUtf16(port.path), index, true});
    }

    std::vector<std::string>& problems_;
    std::vector<KeyInfo> builtIn_;
    std::vector<KeyInfo> detached_;
};

void ActivateBuiltInDriver(const std::u16string& name, std::vector<std::string>& problems)
{
    const std::u16string path = Child(kBuiltIn, name);
    {
        Key key(path, Key::Open::Existing);
        // A key that only names a host tty is served by the built-in serial driver.
        if (!key || (!key.Has(u"Dll") && !key.Has(u"HostDevice"))) {
            return;
        }
        SetTextIfMissing(key, u"Dll", kSerialModule);
    }
    if (ActivateDeviceEx(path.c_str(), nullptr, 0, nullptr) == nullptr) {
        problems.push_back("cannot activate " + ToUtf8(path) + " (error " + std::to_string(GetLastError()) + ")");
    }
}

// A key brought back from Drivers\Detached whose device never stopped: a
// built-in device still holds its name.
bool StillActive(const std::u16string& name)
{
    const Key key(Child(kBuiltIn, name), Key::Open::Existing);
    const std::optional<DWORD> index = key.Number(u"Index");
    if (!index) {
        return false;
    }
    const std::shared_ptr<Device> device = ActiveDevice(key.Text(u"Prefix").value_or(u"COM"), *index);
    return device != nullptr && IsBuiltInDevice(*device);
}

}  // namespace

void SyncBuiltInSerialPorts(const std::vector<HostPort>& present, std::vector<std::string>& problems)
{
    Sync sync(problems);
    sync.ParkAbsentDevices();
    for (const HostPort& port : present) {
        sync.Adopt(port);
    }
}

void ActivateBuiltInDrivers(std::vector<std::string>& problems)
{
    for (const std::u16string& name : SubkeyNames(kBuiltIn)) {
        ActivateBuiltInDriver(name, problems);
    }
}

void ResyncBuiltInSerialPorts(const std::vector<HostPort>& present, std::vector<std::string>& problems)
{
    const std::vector<std::u16string> before = SubkeyNames(kBuiltIn);
    SyncBuiltInSerialPorts(present, problems);
    for (const std::u16string& name : SubkeyNames(kBuiltIn)) {
        const bool known = std::any_of(before.begin(), before.end(), [&](const auto& old) { return SameName(old, name); });
        if (!known && !StillActive(name)) {
            ActivateBuiltInDriver(name, problems);
        }
    }
}

}  // namespace platform::devices
