// Settings that another program (tavrel-config) stored while Tavrel runs,
// taken up by the main window: it shows them, and a run uses them as the
// settings table says: the network outputs restart at once, the relay's own
// choices count from its next start. Taken up this way, a change is not
// written over when Tavrel ends.
#pragma once

#include "platform/types.h"
#include "platform/user.h"
#include "state/setting_table.h"

// Posted to the main window for a stored change; WPARAM is the SettingId.
inline constexpr UINT SettingChangedMessage = WM_APP + 3;

// The window that takes the changes: set when the main dialog starts, null
// when it ends.
void WatchSettingChanges(HWND dialog);
// Hands a change to the window; false when there is none. Any thread.
bool PostSettingChange(SettingId id);
// On SettingChangedMessage: shows the change and puts it to use; one for the
// relay waits for the run's end.
void OnSettingChanged(HWND dialog, WPARAM id);
// After a run has ended: takes the changes that waited for it.
void TakeWaitingSettingChanges(HWND dialog);
