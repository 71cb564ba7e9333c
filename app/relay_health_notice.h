// What the main window does when the relay tells it its health changed: the
// tray icon's tooltip shows the new summary, and a network output that could
// not start is named in a message box.
#pragma once

#include "platform/types.h"
#include "relay/relay_health.h"

// The tray icon's tooltip becomes the one-line summary of `health`.
void ShowRelaySummary(HWND mainDialog, const RelayHealth& health);
// RelayHealthChangedMessage, with its WPARAM.
void OnRelayHealthChanged(HWND mainDialog, WPARAM what);
