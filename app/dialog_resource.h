// The program's dialog templates as its module holds them, the shape of
// the screen that chooses between a dialog's two layouts, and what the
// dialogs of the settings share: their boxes' texts and choices, and the box
// that tells a person why a value was not taken.
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
// Appends an entry to the combo box `id`.
void AddChoice(HWND dialog, int id, const std::u16string& text);
// The entry chosen in the combo box `id`; CB_ERR for none.
int Choice(HWND dialog, int id);
// A message box with the program's caption that tells a person what is wrong.
void Complain(const std::string& text);
// What a form (a dialog of settings with OK in its caption, and Cancel) does
// with a person's input: `changed` when the entry chosen in combo box
// `choice` changes; OK ends it once `take` has taken what the boxes say,
// Cancel and the close box end it.
struct FormHandlers {
    int choice;
    void (*changed)(HWND dialog);
    bool (*take)(HWND dialog);
};
BOOL FormProcedure(HWND dialog, UINT message, WPARAM wParam, const FormHandlers& handlers);
// The dialog in the layout of the screen's shape, modal; what it ended with.
INT_PTR RunDialog(WORD portrait, WORD landscape, DLGPROC procedure, LPARAM parameter);
