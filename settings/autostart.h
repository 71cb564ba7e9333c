// Replays the saved choices at the start of the main dialog when Autostart is
// on: the saved outputs, a start of relaying, and the window hidden to the tray.
#pragma once

#include "platform/types.h"

void ResumeAutostart(HWND dialog);
