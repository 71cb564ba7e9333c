// The tray icon that stays while the main dialog exists, hiding the dialog to
// it and bringing it back with a tap, and the About box that closes itself.
#pragma once

#include <string>

#include "platform/types.h"

// The tray icon's callback message and identifier. A second copy of the
// program posts the same message to bring the running copy back.
inline constexpr UINT TrayMessage = 3025;
inline constexpr UINT TrayIconId = 5000;

// 1 while the OK button has hidden the main dialog to the tray.
extern DWORD hiddenToTray;

// Adds (NIM_ADD) or deletes (NIM_DELETE) the tray icon; the shell's result.
BOOL NotifyTrayIcon(HWND dialog, DWORD action, UINT iconId, HICON icon);
// Changes the tray icon's tooltip to `tip` (cut to what the icon holds).
void ShowTrayTip(HWND dialog, const std::u16string& tip);
// The OK command: hides the main dialog, once.
void HideToTray(HWND dialog);
// TrayMessage: a pen-down on the icon brings the hidden dialog back to the front.
void RestoreFromTray(HWND dialog, WPARAM iconId, LPARAM mouseMessage);
// Runs the About box modally; it closes itself five seconds after it opened.
void ShowAboutBox();
