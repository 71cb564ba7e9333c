// The program's entry routine and the module instance it keeps.
#pragma once

#include "platform/types.h"

// The module's instance handle, kept for loading dialog templates and icons.
extern HINSTANCE ProgramInstance;

// The entry routine is WinMain (platform/winmain.h): one running copy per
// device; a second copy brings the first back and ends.
