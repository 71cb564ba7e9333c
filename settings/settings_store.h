// The user's choices in the registry, the install path, and the Startup
// shortcut that runs the program at boot. Loaded once before the main dialog
// exists, saved once after it has ended.
#pragma once

#include "platform/types.h"

// Whether LoadSettings found the stored settings but could not read them (a
// registry file that cannot be parsed). Such a run saves nothing at its end:
// the stored settings are not replaced by the defaults it ran with, and the
// Startup shortcut is left as it was.
extern bool SettingsUnreadable;

// The saved outputs that the autostart restore could not bring back in this
// run (their ports could not be created this time), as "Split" bits. They stay
// in the saved "Split" unless the person changes the outputs, so that a fault
// that passes does not cost them.
extern DWORD UnrestoredOutputs;

void LoadSettings();
void LoadInstallPath();
void SaveSettings();
void UpdateStartupShortcut(bool enabled);

// The person added or deleted an output: the outputs chosen now are the ones to save.
void OutputsChangedByPerson();
