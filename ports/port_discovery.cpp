#include "ports/port_discovery.h"

#include <algorithm>

#include "platform/kernel.h"
#include "platform/registry.h"
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

// "Index" read into a 4-byte number as the registry hands it over: a value
// of 1 to 3 bytes fills the number's low bytes and the others stay 0. A
// longer value does not fit, and an empty one holds no number: neither is a
// port number.
bool ReadIndex(HKEY key, LONG& index)
{
    index = 0;
    DWORD size = sizeof(index);
    return RegQueryValueExW(key, u"Index", nullptr, nullptr, reinterpret_cast<BYTE*>(&index), &size) ==
               ERROR_SUCCESS &&
           size != 0;
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

void ListSubkey(HWND dialog, HKEY builtIn, const WCHAR* subkey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(builtIn, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    WCHAR prefix[kValueLimit / 2 + 1];
    WCHAR friendlyName[kValueLimit / 2 + 1];
    LONG index = 0;
    if (ReadText(key, u"Prefix", prefix) && wcscmp(prefix, u"COM") == 0) {
        const bool named = ReadText(key, u"FriendlyName", friendlyName);
        if (ReadIndex(key, index)) {
            DetectedPorts.push_back(static_cast<PortNumber>(index & 0xFF));
            WCHAR entry[kEntrySize] = {};
            if (named) {
                OutputDebugStringW(friendlyName);
                OutputDebugStringW(u"\n");
            } else {
                ComposeEntry(subkey, index, entry);
            }
            SendDlgItemMessageW(dialog, IDC_INPUT_PORT, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(named ? friendlyName : entry));
        }
    }
    RegCloseKey(key);
}

}  // namespace

void ListBuiltInPorts(HWND dialog)
{
    HKEY builtIn = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Drivers\\BuiltIn", 0, KEY_READ, &builtIn) != ERROR_SUCCESS) {
        return;
    }
    for (DWORD index = 0;; ++index) {
        WCHAR name[kNameSize];
        DWORD length = kNameSize;
        if (RegEnumKeyExW(builtIn, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        ListSubkey(dialog, builtIn, name);
    }
    RegCloseKey(builtIn);
}

void FillInputPortList(HWND dialog)
{
    ListBuiltInPorts(dialog);
    if (AppSettings.inputPort < 0) {
        return;
    }
    for (std::size_t i = 0; i < DetectedPorts.size(); ++i) {
        if (DetectedPorts[i] == AppSettings.inputPort) {
            SendDlgItemMessageW(dialog, IDC_INPUT_PORT, CB_SETCURSEL, i, 0);
            return;
        }
    }
}
