// The window procedures of the built-in classes, and calling a window's.
#pragma once

#include "platform/user.h"
#include "user/window_table.h"

namespace platform::user {

LRESULT ButtonProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ComboBoxProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT ListBoxProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT StaticProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Dialogs and message boxes: the dialog procedure first, then the defaults.
LRESULT DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Calls the procedure of a window of this thread; 0 for an unknown window.
LRESULT CallWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The default handling of the messages every window understands.
LRESULT DefaultProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Tells a control's parent: WM_COMMAND with the control's id and `code`.
void NotifyParent(HWND control, WORD code);

// Whether input may reach the window: it and every window above it are enabled.
bool AcceptsInput(HWND window);

// Copies text into a caller's buffer of `size` characters as WM_GETTEXT does;
// returns the characters copied, the terminator not counted.
LRESULT CopyText(const std::u16string& text, WPARAM size, LPARAM buffer);

}  // namespace platform::user
