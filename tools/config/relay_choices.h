// The input and the outputs as a person names them at a shell, for
// tavrel-config: a serial device becomes a built-in port, and an input is
// never one of the outputs. A headless machine has no window to pick them in.
#pragma once

#include <optional>
#include <string>

#include "platform/types.h"

namespace tavrel::tools {

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
