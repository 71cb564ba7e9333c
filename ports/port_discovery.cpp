#include "ports/port_discovery.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "platform/registry.h"
#include "platform/registry_number.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "resources/resource_ids.h"
#include "state/app_settings.h"
#include "state/port_lists.h"

namespace {

constexpr DWORD kNameSize = 256;       // characters, terminator included
constexpr DWORD kValueLimit = 256;     // bytes: 127 characters and the terminator
constexpr std::size_t kEntrySize = 80;

// A text value of at most kValueLimit bytes; the buffer has room for a
// terminator after them, so the text always ends.
bool ReadText(HKEY key, const WCHAR* name, WCHAR (&text)[kValueLimit / 2 + 1])
{
    std::fill(std::begin(text), std::end(text), u'\0');
    DWORD size = kValueLimit;
    return RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS;
}

// "<subkey> COM<index>:"; a subkey name too long for the entry is cut and
// marked with "...", so the port's number always shows.
void ComposeEntry(const WCHAR* subkey, LONG index, WCHAR (&entry)[kEntrySize])
{
    WCHAR suffix[24];
    StringCchPrintfW(suffix, 24, u" COM%d:", index);
    const std::size_t room = kEntrySize - 1 - wcslen(suffix);
    std::u16string name(subkey);
    if (name.size() > room) {
        name.resize(room - 3);
        name += u"...";
    }
    StringCchPrintfW(entry, kEntrySize, u"%s%s", name.c_str(), suffix);
}

// One serial port among the built-in drivers, as the input port box lists it.
struct ListedPort {
    PortNumber number;
    std::u16string text;
    bool named;   // the text is the key's friendly name

    bool operator==(const ListedPort& other) const { return number == other.number && text == other.text; }
};

// The serial port that a subkey describes; nothing when it describes none.
std::optional<ListedPort> ReadSubkey(HKEY builtIn, const WCHAR* subkey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(builtIn, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::optional<ListedPort> port;
    WCHAR prefix[kValueLimit / 2 + 1];
    WCHAR friendlyName[kValueLimit / 2 + 1];
    if (ReadText(key, u"Prefix", prefix) && wcscmp(prefix, u"COM") == 0) {
        const bool named = ReadText(key, u"FriendlyName", friendlyName);
        // A port without a number that "Index" holds is not listed.
        if (const std::optional<DWORD> number = platform::QueryRegistryNumber(key, u"Index")) {
            const auto index = static_cast<LONG>(*number);
            WCHAR entry[kEntrySize] = {};
            if (!named) {
                ComposeEntry(subkey, index, entry);
            }
            port = ListedPort{static_cast<PortNumber>(index & 0xFF), named ? friendlyName : entry, named};
        }
    }
    RegCloseKey(key);
    return port;
}

// Every serial port among the built-in drivers, in the registry's order.
std::vector<ListedPort> ReadBuiltInPorts()
{
    std::vector<ListedPort> ports;
    HKEY builtIn = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Drivers\\BuiltIn", 0, KEY_READ, &builtIn) != ERROR_SUCCESS) {
        return ports;
    }
    for (DWORD index = 0;; ++index) {
        WCHAR name[kNameSize];
        DWORD length = kNameSize;
        if (RegEnumKeyExW(builtIn, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        if (auto port = ReadSubkey(builtIn, name)) {
            ports.push_back(std::move(*port));
        }
    }
    RegCloseKey(builtIn);
    return ports;
}

void AppendPort(HWND dialog, const ListedPort& port)
{
    DetectedPorts.push_back(port.number);
    SendDlgItemMessageW(dialog, IDC_INPUT_PORT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(port.text.c_str()));
}

// Selects the first entry of the port `number`; none when no entry lists it.
void SelectPort(HWND dialog, std::int64_t number)
{
    for (std::size_t i = 0; i < DetectedPorts.size(); ++i) {
        if (DetectedPorts[i] == number) {
            SendDlgItemMessageW(dialog, IDC_INPUT_PORT, CB_SETCURSEL, i, 0);
            return;
        }
    }
}

// What the box lists now, entry by entry in step with DetectedPorts.
std::vector<ListedPort> ListedNow(HWND dialog)
{
    std::vector<ListedPort> listed;
    const LRESULT count = SendDlgItemMessageW(dialog, IDC_INPUT_PORT, CB_GETCOUNT, 0, 0);
    for (std::size_t i = 0; i < DetectedPorts.size() && static_cast<LRESULT>(i) < count; ++i) {
        const LRESULT length = SendDlgItemMessageW(dialog, IDC_INPUT_PORT, CB_GETLBTEXTLEN, i, 0);
        std::u16string text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, u'\0');
        SendDlgItemMessageW(dialog, IDC_INPUT_PORT, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        text.resize(text.size() - 1);
        listed.push_back({DetectedPorts[i], std::move(text), false});
    }
    return listed;
}

// The text in the box's edit field, whatever its length.
std::u16string TypedText(HWND dialog)
{
    const HWND box = GetDlgItem(dialog, IDC_INPUT_PORT);
    std::u16string text(static_cast<std::size_t>(std::max(GetWindowTextLengthW(box), 0)) + 1, u'\0');
    text.resize(static_cast<std::size_t>(std::max(GetWindowTextW(box, text.data(), static_cast<int>(text.size())), 0)));
    return text;
}

}  // namespace

void ListBuiltInPorts(HWND dialog)
{
    for (const ListedPort& port : ReadBuiltInPorts()) {
        if (port.named) {
            OutputDebugStringW(port.text.c_str());
            OutputDebugStringW(u"\n");
        }
        AppendPort(dialog, port);
    }
}

void FillInputPortList(HWND dialog)
{
    ListBuiltInPorts(dialog);
    if (AppSettings.inputPort >= 0) {
        SelectPort(dialog, AppSettings.inputPort);
    }
}

void RefreshInputPortList(HWND dialog)
{
    const std::vector<ListedPort> before = ListedNow(dialog);
    const LRESULT chosen = SendDlgItemMessageW(dialog, IDC_INPUT_PORT, CB_GETCURSEL, 0, 0);
    std::vector<ListedPort> ports = ReadBuiltInPorts();
    std::optional<PortNumber> chosenPort;
    if (chosen >= 0 && static_cast<std::size_t>(chosen) < before.size()) {
        const ListedPort& kept = before[static_cast<std::size_t>(chosen)];
        chosenPort = kept.number;
        const bool listed = std::any_of(ports.begin(), ports.end(), [&](const ListedPort& port) {
            return port.number == kept.number;
        });
        if (!listed) {
            // Its device went: the entry stays where it was until the person chooses another.
            const std::size_t at = std::min(static_cast<std::size_t>(chosen), ports.size());
            ports.insert(ports.begin() + static_cast<std::ptrdiff_t>(at), kept);
        }
    }
    if (ports == before) {
        return;
    }
    const std::u16string typed = chosenPort ? std::u16string() : TypedText(dialog);
    SendDlgItemMessageW(dialog, IDC_INPUT_PORT, CB_RESETCONTENT, 0, 0);
    DetectedPorts.clear();
    for (const ListedPort& port : ports) {
        AppendPort(dialog, port);
    }
    if (chosenPort) {
        SelectPort(dialog, *chosenPort);
    } else {
        SetDlgItemTextW(dialog, IDC_INPUT_PORT, typed.c_str());
    }
}
