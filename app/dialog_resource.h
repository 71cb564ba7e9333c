// The program's dialog templates as its module holds them, and the shape of
// the screen that chooses between a dialog's two layouts.
#pragma once

#include "platform/types.h"
#include "platform/user.h"

// The template with that id in the program's module; null when it has none.
const DLGTEMPLATE* FindDialogTemplate(WORD id);
// Whether the screen is taller than it is wide (the portrait layouts).
bool ScreenIsPortrait();
