#include "ports/virtual_ports.h"

#include <algorithm>

#include "platform/devices.h"
#include "platform/kernel.h"
#include "platform/registry.h"
#include "platform/registry_batch.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "resources/resource_ids.h"
#include "state/install_path.h"
#include "state/port_lists.h"

namespace {

constexpr std::size_t kWorkSize = 80;

void WriteText(HKEY key, const WCHAR* name, const WCHAR* text)
{
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>((wcslen(text) + 1) * sizeof(WCHAR)));
}

void KeyPath(int port, WCHAR (&path)[kWorkSize])
{
    StringCchPrintfW(path, kWorkSize, u"Drivers\\quorvel%d", port);
}

// Deletes, from the last entry back, each entry of a list in step with
// `ports` whose number a built-in port holds.
void DropBuiltInNumbers(HWND dialog, int id, UINT deleteMessage, PortList& ports)
{
    for (std::size_t i = ports.size(); i-- > 0;) {
        if (std::find(DetectedPorts.begin(), DetectedPorts.end(), ports[i]) != DetectedPorts.end()) {
            SendDlgItemMessageW(dialog, id, deleteMessage, i, 0);
            ports.erase(ports.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

}  // namespace

void RegisterVirtualPort(int port)
{
    WCHAR work[kWorkSize] = {};
    KeyPath(port, work);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, work, 0, nullptr, REG_OPTION_NON_VOLATILE, 0, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    // The install path holds up to 128 characters, more than the work buffer
    // leaves room for, so the module's path has a buffer of its own.
    WCHAR module[kInstallPathSize] = {};
    StringCchCopyW(module, kInstallPathSize, InstallPath);
    StringCchCatW(module, kInstallPathSize, u"\\quorvel.dll");
    WriteText(key, u"Dll", module);
    WriteText(key, u"Prefix", u"COM");
    StringCchPrintfW(work, kWorkSize, u"COM:%d Tavrel", port);
    WriteText(key, u"FriendlyName", work);
    const DWORD index = static_cast<DWORD>(port);
    RegSetValueExW(key, u"Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&index), sizeof(index));
    RegCloseKey(key);
}

bool ProbeVirtualPort(int port)
{
    WCHAR path[kWorkSize] = {};
    KeyPath(port, path);
    HANDLE device = ActivateDeviceEx(path, nullptr, 0, nullptr);
    if (device == nullptr) {
        OutputDebugStringW(u"Fallo ActivateDeviceEx\n");
        return false;
    }
    DeactivateDevice(device);
    return true;
}

void FindFreeOutputs(HWND dialog)
{
    FindFreeOutputs(dialog, {}, ScanPart::AllBut);
}

void FindFreeOutputs(HWND dialog, const PortList& numbers, ScanPart part)
{
    // The drivers' keys are written anew at every start: one write of the
    // file for all that this scan registers.
    platform::RegistryBatch driverKeys(HKEY_LOCAL_MACHINE);
    for (int n = 0; n <= 9; ++n) {
        const bool listed = std::find(numbers.begin(), numbers.end(), n) != numbers.end();
        if (listed != (part == ScanPart::Only)) {
            continue;
        }
        if (std::find(DetectedPorts.begin(), DetectedPorts.end(), n) != DetectedPorts.end()) {
            continue;   // a built-in driver owns that number
        }
        WCHAR entry[10] = {};
        StringCchPrintfW(entry, 10, u"COM%d:", n);
        RegisterVirtualPort(n);
        if (ProbeVirtualPort(n)) {
            const auto place = std::find_if(FreeOutputs.begin(), FreeOutputs.end(),
                                            [n](PortNumber free) { return free > n; });
            SendDlgItemMessageW(dialog, IDC_FREE_OUTPUTS, CB_INSERTSTRING,
                                static_cast<WPARAM>(place - FreeOutputs.begin()), reinterpret_cast<LPARAM>(entry));
            FreeOutputs.insert(place, static_cast<PortNumber>(n));
        }
    }
}

void DropBuiltInNumbersFromFreeOutputs(HWND dialog)
{
    DropBuiltInNumbers(dialog, IDC_FREE_OUTPUTS, CB_DELETESTRING, FreeOutputs);
}

void DropBuiltInNumbersFromSplitOutputs(HWND dialog)
{
    DropBuiltInNumbers(dialog, IDC_OUTPUT_LIST, LB_DELETESTRING, SplitOutputs);
}
