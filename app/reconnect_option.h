// The Reconnect check box of the main window: whether a run waits for an
// input that fails and relays again when it is back, instead of ending.
#pragma once

#include "platform/types.h"

// At the window's start: the box shows the loaded flag.
void ShowReconnectOption(HWND dialog);
// At each click: the flag follows the box at once, so that a run in progress
// acts on it from its next failed read, and every way of ending the program
// saves what the box shows.
void TakeReconnectOption(HWND dialog);
