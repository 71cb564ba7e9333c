// The Inputs dialog: the inputs read beside the main one, added, edited and
// removed in a list, and the start-up commands sent to them and to the main
// input, stored with the caption's OK. A run that is up keeps its inputs;
// the stored ones count from the relay's next start.
#pragma once

#include <cstddef>
#include <string>

#include "platform/types.h"

// Runs the dialog in the layout of the screen's shape; returns when it closes.
void ShowInputsDialog(HWND mainDialog);

// How a choice of input names input `number` of the stored ones: "0 (main)",
// "1  AIS", "2  serial COM3" (its name, else its kind and place).
std::u16string InputChoiceName(std::size_t number);
