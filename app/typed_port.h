// A port name typed into the input port box: "COM" and the port's number, read
// as the C runtime's "COM%d" scan reads it.
#pragma once

#include "platform/types.h"

// The most characters of a typed text that are read; the rest is cut off.
inline constexpr int kTypedPortLength = 9;

// The number that a typed text names: its first three characters are COM in
// either case, then comes a decimal number with an optional sign; blanks may
// precede the number and anything after it is ignored. Only the first
// kTypedPortLength characters are read. False when they hold no such number.
// The number is as typed: whether it is a port to use is the caller's choice.
bool ParseTypedPort(const WCHAR* text, long long& number);
