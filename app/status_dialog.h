// The Status dialog: what the relay does, refreshed once a second while the
// dialog is open (no timer runs while it is closed), and the network outputs'
// settings, stored with the caption's OK or Apply and put to use at once.
// One at a time: asking for it again brings the open one to the front.
#pragma once

#include "platform/types.h"
#include "state/network_settings.h"

// Runs the dialog in the layout of the screen's shape; returns when it closes.
// `mainDialog` is the main window, whose tray icon's tooltip the dialog keeps
// up to date while it refreshes.
void ShowStatusDialog(HWND mainDialog);
// Another program stored the network settings: an open dialog shows them, so
// that its OK or Apply does not store the older ones again.
void ShowStoredNetworkSettings(const NetworkSettings& settings);
// Closes the dialog when it is open (the program is ending).
void CloseStatusDialog();
