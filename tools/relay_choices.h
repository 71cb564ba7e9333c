// The window's own choices (the input, its baud rate and the outputs) as a
// person types them at a shell: parsed for tavrel-config and shown back in the
// same words. A headless machine has no window to pick them in.
#pragma once

#include <optional>
#include <string>

#include "platform/types.h"

namespace tavrel::tools {

// "COM3", "com3:" or "3": a COM number 0 to 99; nothing for anything else.
std::optional<DWORD> ComNumber(const std::string& typed);

// A rate in the baud box ("4800") as its index, and back.
std::optional<DWORD> BaudIndexOfRate(const std::string& typed);
std::string RateOfBaudIndex(DWORD index);

// "COM2,COM3", "2 3" or "none" as the "Split" mask (outputs 0 to 9), and back
// ("COM2 COM3", "none").
std::optional<DWORD> OutputsMask(const std::string& typed);
std::string OutputsText(DWORD mask);

// The COM number of the input that `typed` names: a COM name, or a host serial
// device (/dev/ttyUSB0, a link to one, a pseudo-terminal). A device that a
// built-in port already names keeps that port's number; another one becomes
// the built-in port "Serial input" (made, or pointed at the device) on the
// highest number from 9 down that no other built-in port holds and that is
// not one of the chosen `outputs` (a "Split" mask): the host's own ports take
// the low numbers, and people pick outputs from COM2 up. Needs a booted
// device; nothing, with `reason`, for an input that is one of the outputs,
// when the device does not exist or when no number is free.
std::optional<DWORD> ChooseInput(const std::string& typed, DWORD outputs, std::string& reason);

// `outputs` (a "Split" mask) as the outputs beside the input `input`; nothing,
// with `reason`, when one of them is the input.
std::optional<DWORD> OutputsBeside(DWORD outputs, DWORD input, std::string& reason);

}  // namespace tavrel::tools
