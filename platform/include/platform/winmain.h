// The program's entry routine, which the platform's process entry runs on the
// user-interface thread once the device is up. The program defines it.
#pragma once

#include "platform/types.h"

int WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);
