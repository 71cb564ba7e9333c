// The user's choices in the registry, the install path, and the Startup
// shortcut that runs the program at boot. Loaded once before the main dialog
// exists, saved once after it has ended.
#pragma once

#include "platform/types.h"
#include "state/setting_table.h"

// Whether LoadSettings found the stored settings but could not read them (a
// registry file that cannot be parsed). Such a run saves nothing at its end:
// the stored settings are not replaced by the defaults it ran with, and the
// Startup shortcut is left as it was.
extern bool SettingsUnreadable;

void LoadSettings();
void LoadInstallPath();
// Saves the window's choices that the person changed since they were loaded
// or last saved, and brings the Startup shortcut in line with Autostart. A
// choice the person left alone is not written, so that what another program
// stored meanwhile stays; the saved outputs stay as stored (with any that
// the autostart restore could not bring back) until the person adds or
// deletes one.
void SaveSettings();
void UpdateStartupShortcut(bool enabled);

// The person added or deleted an output: the outputs chosen now are the ones to save.
void OutputsChangedByPerson();

// Reads one stored setting again (another program changed it) into
// AppSettings, as the value last stored: what the window shows of it from now
// on was not changed by the person. The outputs are the window's to choose
// again (RestoreSavedOutputs); the network settings are read by each start of
// the network outputs. On the user-interface thread, while no relay runs.
void ReloadSetting(SettingId id);
