// The user's choices, one record for the life of the program.
#pragma once

#include <cstdint>

#include "state/baud_rates.h"

struct Settings {
    std::int32_t inputPort = 1;   // the input's COM number
    BaudIndex baudIndex = 0;
    std::uint32_t autostart = 0;  // 0 off, anything else on
};

extern Settings AppSettings;
