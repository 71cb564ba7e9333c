// The install path: the folder that holds the virtual port driver, read once
// at program start and used to register the virtual ports.
#pragma once

#include <cstddef>

#include "platform/types.h"

inline constexpr std::size_t kInstallPathSize = 260;

// Without a trailing backslash; empty (all zero) until loaded, and when it
// could not be read.
extern WCHAR InstallPath[kInstallPathSize];
