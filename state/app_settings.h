// The user's choices, one record for the life of the program.
#pragma once

#include <cstdint>

// An index 0 to 14 into the baud rates of the baud box.
using BaudIndex = std::int32_t;

struct Settings {
    std::int32_t inputPort = 1;   // the input's COM number
    BaudIndex baudIndex = 0;
    std::uint32_t autostart = 0;  // 0 off, anything else on
};

extern Settings AppSettings;
