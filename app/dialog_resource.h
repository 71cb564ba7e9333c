// The program's dialog templates as its module holds them, and the shape of
// the screen that chooses between a dialog's two layouts.
#pragma once

#include <string>

#include "platform/types.h"
#include "platform/user.h"

// The template with that id in the program's module; null when it has none.
const DLGTEMPLATE* FindDialogTemplate(WORD id);
// Whether the screen is taller than it is wide (the portrait layouts).
bool ScreenIsPortrait();
// The text of the dialog's control `id` (an edited combo box, a label).
std::u16string ItemText(HWND dialog, int id);
// The dialog in the layout of the screen's shape, modal; what it ended with.
INT_PTR RunDialog(WORD portrait, WORD landscape, DLGPROC procedure, LPARAM parameter);
