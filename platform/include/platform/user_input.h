// What a person does and sees: the calls through which a display backend (or
// a test driver acting as a person) feeds input into the window layer, and
// reads the state it shows. Input is queued to the thread that owns the
// window and handled by that thread's message loop, exactly as a real
// display's input would be; these calls return at once.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform::input {

// A tap on a button (a check box toggles), or on any other control, which
// then gets the focus. A disabled control, or one in a disabled window, ignores it.
void Click(HWND control);
// Chooses entry `index` of a combo box or list box, as a person picks it from
// the drop-down or the list; the parent hears CBN_SELCHANGE / LBN_SELCHANGE.
void ChooseEntry(HWND control, int index);
// A double tap on entry `index` of a list box: it is chosen as ChooseEntry
// chooses it, then the parent hears LBN_DBLCLK (both only from a list box
// with LBS_NOTIFY).
void DoubleClickEntry(HWND control, int index);
// Types into the edit field of a combo box: the field is first emptied when
// `replace` is set. Each character is a WM_CHAR; '\b' deletes one.
void Type(HWND control, const std::u16string& text, bool replace = true);
// Moves the keyboard focus to the control (the old one hears it is left).
void Focus(HWND control);
// A key pressed while `window` has the focus (a control, or a dialog none of
// whose controls has it): WM_KEYDOWN with the virtual key. In a dialog,
// Enter (VK_RETURN) presses the push button with the focus, else the default
// push button, else OK; Esc (VK_ESCAPE) is Cancel (platform/user.h).
void PressKey(HWND window, WPARAM virtualKey);
// The OK button in a window's caption (a dialog with WS_EX_CAPTIONOKBTN or a
// Done button from SHInitDialog): WM_COMMAND IDOK.
void PressCaptionOk(HWND window);
// The close box: WM_CLOSE.
void Close(HWND window);
// A tap on a tray icon: its owner gets the callback message with the icon id
// and WM_LBUTTONDOWN, then with WM_LBUTTONUP.
void TapTrayIcon(HWND owner, UINT id);

// What a window is: a dialog, a message box, or one of the built-in controls.
enum class WindowKind { Dialog, Button, ComboBox, ListBox, Static, MessageBox };

// What a window shows.
struct WindowState {
    HWND handle = nullptr;
    WindowKind kind = WindowKind::Static;
    HWND parent = nullptr;     // of a child control
    HWND owner = nullptr;      // of an owned top-level window
    std::u16string className;  // "#32770" (dialog), "BUTTON", "COMBOBOX", "LISTBOX", "STATIC"
    std::u16string text;       // caption, button text, combo box edit text
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    bool enabled = false;
    bool visible = false;      // its own flag
    bool shown = false;        // visible with every parent
    bool focused = false;
    bool foreground = false;
    bool captionOk = false;    // an OK button in the caption
    std::vector<std::u16string> entries;   // combo box and list box
    int selection = -1;
    bool checked = false;
    RECT place{};              // in the parent's client area, pixels (screen for top-level windows)
    RECT templatePlace{};      // as the dialog template gave it, in dialog units
    HICON icon = nullptr;      // a static icon control's icon
    UINT messageBoxType = 0;   // MB_ style of a message box window
    bool isMessageBox = false;
};

std::optional<WindowState> Inspect(HWND window);
// This process's top-level windows, newest first.
std::vector<HWND> TopLevelWindows();
// The program's own window: its oldest top-level dialog that is not a
// message box; null while it has none.
HWND ProgramWindow();
std::vector<HWND> Children(HWND window);
HWND Foreground();

struct TrayIcon {
    HWND owner;
    UINT id;
    UINT callbackMessage;
    HICON icon;
    std::u16string tip;
};
std::vector<TrayIcon> TrayIcons();

// The soft input panel, as the last SHSipPreference or SHInitDialog left it.
bool InputPanelUp();

// Waits until the thread that owns `window` has handled everything queued for
// it and waits for more in a message loop (a modal loop counts). False when
// that did not happen in time (the thread is busy or blocked outside a loop).
bool WaitForIdle(HWND window, std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace platform::input
