// Dialog windows made from template content, and their modal loop; message
// boxes use them too.
#pragma once

#include "platform/resources.h"
#include "platform/user.h"

namespace platform::user {

// Makes the dialog and its controls, hidden; null when a control cannot be made.
HWND CreateDialogWindow(const DialogTemplateContent& content, HINSTANCE instance, HWND owner, DLGPROC procedure);
// Sends WM_INITDIALOG, gives the focus, shows the dialog and runs its loop on
// the calling thread until EndDialog; then destroys it and returns the result.
INT_PTR RunModalDialog(HWND dialog, LPARAM initParameter);

// Enter and Esc pressed in the dialog (WM_KEYDOWN to it or to one of its
// controls): true when the key was one of them and has been acted on.
bool HandleDialogKey(HWND dialog, const MSG& message);

}  // namespace platform::user
