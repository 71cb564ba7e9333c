#include "app/program.h"

#include "app/main_window.h"
#include "app/setting_changes.h"
#include "app/tray_and_about.h"
#include "platform/kernel.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "platform/winmain.h"
#include "resources/resource_ids.h"
#include "relay/network_outputs.h"
#include "settings/network_settings_store.h"
#include "settings/settings_store.h"
#include "status/status_service.h"

HINSTANCE ProgramInstance = nullptr;

namespace {

const WCHAR kMutexName[] = u"{AF62135C-D1BA-4076-94CB-C05498E0E225}";
const WCHAR kProductName[] = u"Tavrel";
constexpr int kTitleSize = 260;
constexpr int kGuardTextSize = 200;
// The exit code of a start that could not run the program, as when the main
// dialog cannot be created.
constexpr int kCouldNotRun = -1;

HWND foundWindow = nullptr;
DWORD foundFlag = 0;

// One top-level window: the running copy's, if the product name is in its title.
BOOL WindowTest(HWND window, LPARAM pattern)
{
    WCHAR title[kTitleSize] = {};
    GetWindowTextW(window, title, kTitleSize - 1);
    if (wcsstr(title, reinterpret_cast<const WCHAR*>(pattern)) == nullptr) {
        return TRUE;
    }
    foundWindow = window;
    foundFlag = 1;
    return FALSE;
}

const WCHAR* ReasonOf(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED: return u"access denied";
    case ERROR_PATH_NOT_FOUND: return u"path not found";
    default: return u"failure";
    }
}

// Without the marker nobody can tell whether another copy runs, and two copies
// would read the same input and take each other's ports: better not to start.
void ReportGuardFailure(DWORD error)
{
    WCHAR text[kGuardTextSize] = {};
    StringCchPrintfW(text, kGuardTextSize,
                     u"Tavrel cannot make sure that it runs only once on this device (error %u: %s), so it does not start.",
                     error, ReasonOf(error));
    MessageBoxW(nullptr, text, kProductName, MB_OK | MB_ICONEXCLAMATION);
}

const DLGTEMPLATE* MainDialogTemplate(HINSTANCE instance)
{
    const WORD id = GetSystemMetrics(SM_CYSCREEN) > GetSystemMetrics(SM_CXSCREEN) ? IDD_MAIN_PORTRAIT
                                                                                 : IDD_MAIN_LANDSCAPE;
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), RT_DIALOG);
    HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
    return static_cast<const DLGTEMPLATE*>(loaded != nullptr ? LockResource(loaded) : nullptr);
}

}  // namespace

int WinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    foundFlag = 0;
    WCHAR pattern[sizeof(kProductName) / sizeof(WCHAR)] = {};
    StringCchCopyW(pattern, sizeof(pattern) / sizeof(WCHAR), kProductName);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    const DWORD created = GetLastError();
    if (mutex == nullptr) {
        ReportGuardFailure(created);
        return kCouldNotRun;
    }
    if (created == ERROR_ALREADY_EXISTS) {
        EnumWindows(WindowTest, reinterpret_cast<LPARAM>(pattern));
        if (foundFlag != 0) {
            OutputDebugStringW(u"Tavrel is already running...\n");
            PostMessageW(foundWindow, TrayMessage, TrayIconId, WM_LBUTTONDOWN);
        }
        return 0;
    }
    ProgramInstance = instance;
    InitCommonControls();
    LoadSettings();
    UseNetworkSettings(LoadNetworkSettings());
    // Only the copy that runs answers tavrel-status, from before its window
    // exists (an autostart relays before anyone looks) until its window has
    // gone, however that ends (Exit, a signal, the display going away).
    StartStatusService(PostSettingChange);
    const INT_PTR result =
        DialogBoxIndirectParamW(instance, MainDialogTemplate(instance), nullptr, MainDialogProc, 0);
    StopStatusService();
    SaveSettings();
    CloseHandle(mutex);
    return static_cast<int>(result);
}
