// The program's entry routine, which the platform's process entry runs on the
// user-interface thread once the device is up. The program defines it.
#pragma once

#include <optional>

#include "platform/types.h"

int WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);

// The program's word on its host command line, which the process entry asks
// first, before it opens a display or touches the device: an exit code to
// end the process with at once (it answered --help, say, or the command line
// is wrong), or nothing to go on. The program defines it.
std::optional<int> ProgramStart(int argc, char** argv);

// What the program does once its display is open, right before the process
// entry boots the device: it may prepare the device (booting it and shutting
// it down again itself). A signal meanwhile ends the process after it, as
// during the boot. The program defines it.
void ProgramBeforeBoot();
