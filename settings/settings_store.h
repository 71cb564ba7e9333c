// The user's choices in the registry, the install path, and the Startup
// shortcut that runs the program at boot. Loaded once before the main dialog
// exists, saved once after it has ended.
#pragma once

#include "platform/types.h"

inline constexpr std::size_t kInstallPathSize = 260;

// The folder that holds the virtual port driver, without a trailing
// backslash; empty (all zero) until loaded, and when it could not be read.
extern WCHAR InstallPath[kInstallPathSize];

void LoadSettings();
void LoadInstallPath();
void SaveSettings();
void UpdateStartupShortcut(bool enabled);

// The "Split" value: bit n + 1 for each chosen output n.
DWORD EncodeSplit();
