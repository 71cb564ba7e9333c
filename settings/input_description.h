// An extra input as a person writes it, at a shell or in the registry:
//   serial PATH|COMn [BAUD] [name=NAME] [standby-for=N] [standby-after=SECONDS] [init=COMMAND]
//   tcp HOST:PORT [name=NAME] [standby-for=N] [standby-after=SECONDS] [init=COMMAND]
//   udp PORT [group=ADDRESS] [name=NAME] [standby-for=N] [standby-after=SECONDS]
// N counts the inputs from 0, the main input. COMMAND is sent each time the
// input is opened or connected, written with the escapes of command_text.h. The stored text is the same
// words, a word with blanks or quotes in double quotes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "state/extra_inputs.h"

// The input that `words` describe; nothing, with `reason`, when they do not
// describe one. Whether `standby-for` names an input that exists is the
// caller's to ask (it knows the list).
std::optional<ExtraInput> ParseExtraInput(const std::vector<std::string>& words, std::string& reason);

// The same from one line of text, its words split at blanks outside quotes.
std::optional<ExtraInput> ParseExtraInputText(std::string_view text, std::string& reason);

// The line that parses back to `input`: its kind, place, and every choice
// that differs from the default.
std::string ExtraInputText(const ExtraInput& input);

// What a person calls the input when it has no name: "serial /dev/ttyUSB1",
// "tcp 192.168.1.10:10110", "udp 10110".
std::string ExtraInputPlace(const ExtraInput& input);

// Whether every input's standby names another input that exists (0 to the
// list's size); false, with `reason`, for the first that does not.
bool StandbysValid(const ExtraInputs& inputs, std::string& reason);
