// The input's baud rates, in the order of the baud box's entries: an entry's
// position is its BaudIndex, and its text is its rate in decimal. The baud
// box and the relay worker both take their rates from this one table, so
// the rate a person picks is the rate the input is set to.
#pragma once

#include <array>
#include <cstdint>

#include "platform/types.h"

// An index 0 to 14 into kBaudRates. The settings keep whatever number was
// stored; the worker sets 4800 for one outside the table.
using BaudIndex = std::int32_t;

inline constexpr std::array<DWORD, 15> kBaudRates = {110,   300,   600,   1200,   2400,   4800,   9600,  14400,
                                                     19200, 38400, 56000, 57600, 115200, 128000, 256000};
