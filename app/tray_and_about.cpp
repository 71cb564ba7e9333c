#include "app/tray_and_about.h"

#include <iterator>

#include "app/dialog_resource.h"
#include "app/program.h"
#include "platform/shell.h"
#include "platform/strings.h"
#include "platform/user.h"
#include "resources/resource_ids.h"

DWORD hiddenToTray = 0;

namespace {

constexpr UINT kAutoCloseMilliseconds = 5000;

const WCHAR kAboutText[] =
    u"Tavrel is FREE software.\n"
    u"\n"
    u"You may download and use it without charge. If you find it useful, please consider a donation to its "
    u"author to support further development; you will find how at the address below.\n"
    u"\n"
    u"https://www.brenmor.example/tavrel\n"
    u"\n"
    u"(c) 2026 Brenmor";

UINT_PTR aboutTimer = 0;
HWND aboutBox = nullptr;

void AutoClose(HWND, UINT, UINT_PTR, DWORD)
{
    KillTimer(nullptr, aboutTimer);
    EndDialog(aboutBox, 1);
}

void CloseAbout(HWND box)
{
    KillTimer(nullptr, aboutTimer);
    EndDialog(box, 1);
}

// The text window, an owned pop-up placed in screen pixels by the screen's shape.
HWND CreateAboutText(HWND box)
{
    const bool portrait = ScreenIsPortrait();
    return CreateWindowExW(0, u"STATIC", u"", WS_VISIBLE, portrait ? 25 : 10, portrait ? 50 : 10, 200,
                           portrait ? 200 : 210, box, nullptr, ProgramInstance, nullptr);
}

BOOL InitAbout(HWND box)
{
    SHINITDLGINFO info{SHIDIM_FLAGS, box, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
    SHInitDialog(&info);
    aboutTimer = SetTimer(nullptr, 0, kAutoCloseMilliseconds, AutoClose);
    HWND text = CreateAboutText(box);
    if (text == nullptr) {
        // Without its text the box closes; the program goes on.
        CloseAbout(box);
        return TRUE;
    }
    SetWindowTextW(text, kAboutText);
    aboutBox = box;
    SetForegroundWindow(box);
    return TRUE;
}

BOOL AboutProcedure(HWND box, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: return InitAbout(box);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            CloseAbout(box);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE: CloseAbout(box); return TRUE;
    default: return FALSE;
    }
}

}  // namespace

BOOL NotifyTrayIcon(HWND dialog, DWORD action, UINT iconId, HICON icon)
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = dialog;
    data.uID = iconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON;
    data.uCallbackMessage = TrayMessage;
    data.hIcon = icon;
    return Shell_NotifyIconW(action, &data);
}

void ShowTrayTip(HWND dialog, const std::u16string& tip)
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = dialog;
    data.uID = TrayIconId;
    data.uFlags = NIF_TIP;
    // The record holds 63 units and the terminator; a longer tip is cut.
    tip.copy(data.szTip, std::size(data.szTip) - 1);
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void HideToTray(HWND dialog)
{
    if (hiddenToTray == 0) {
        ShowWindow(dialog, SW_HIDE);
        hiddenToTray = 1;
    }
}

void RestoreFromTray(HWND dialog, WPARAM iconId, LPARAM mouseMessage)
{
    if (mouseMessage != WM_LBUTTONDOWN || iconId != TrayIconId) {
        return;
    }
    if (hiddenToTray == 1) {
        ShowWindow(dialog, SW_SHOW);
        hiddenToTray = 0;
    }
    // Shown or just restored, the dialog comes to the front; nothing else changes.
    SetForegroundWindow(dialog);
}

void ShowAboutBox()
{
    const DLGTEMPLATE* dialogTemplate = FindDialogTemplate(IDD_ABOUT);
    if (dialogTemplate != nullptr) {
        DialogBoxIndirectParamW(ProgramInstance, dialogTemplate, nullptr, AboutProcedure, 0);
    }
}
