// The user's choices, one record for the life of the program.
#pragma once

#include <cstdint>

#include "platform/types.h"
#include "state/baud_rates.h"

// Room for a local socket's path (108 bytes on Linux) as UTF-16.
inline constexpr std::size_t kGpsdSocketSize = 108;

struct Settings {
    std::int32_t inputPort = 1;   // the input's COM number
    BaudIndex baudIndex = 0;
    std::uint32_t autostart = 0;  // 0 off, anything else on
    // Hand the virtual ports to gpsd as they appear: 0 off, anything else on.
    std::uint32_t gpsdHandoff = 0;
    WCHAR gpsdSocket[kGpsdSocketSize] = u"/run/gpsd.sock";   // gpsd's control socket
};

extern Settings AppSettings;
