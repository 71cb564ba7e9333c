// The Inputs dialog: the inputs read beside the main one, added, edited and
// removed in a list, and stored with the caption's OK. A run that is up
// keeps its inputs; the stored ones count from the relay's next start.
#pragma once

#include "platform/types.h"

// Runs the dialog in the layout of the screen's shape; returns when it closes.
void ShowInputsDialog(HWND mainDialog);
