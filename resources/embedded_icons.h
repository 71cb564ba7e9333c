// The program's .ico files (icons/), embedded in the program at build time.
#pragma once

#include <span>

#include "platform/types.h"

std::span<const BYTE> ProgramIconFile();   // icon 101
std::span<const BYTE> TrayIconFile();      // icon 103
