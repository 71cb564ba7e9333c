// An output's options as a person writes them: stored as one line of words
// ("talk=lines to=1 only=GGA,RMC checksum=on talker=GN:GP every=RMC:1000"),
// and changed by tavrel-config one command at a time:
//   talk lines|raw|off [to=N]     what the program writes goes to input N (0 the main one)
//   only LIST|off                 only sentences that match a pattern of LIST pass
//   deny LIST|off                 sentences that match a pattern of LIST are dropped
//   checksum on|off               sentences with a bad or missing checksum are dropped
//   talker XX:YY[,XX:YY]|off      the talker XX becomes YY, the checksum made anew
//   every PATTERN MS|off          at most one such sentence per MS milliseconds
//   shape off                     transparent again (talk stays as it is)
// A pattern is a sentence type ("GGA"), an address ("GPGGA", "!AIVDM") or
// the start of one ("$PGRM*"); LIST is patterns separated by commas.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "state/output_options.h"

// The options that a stored line describes; nothing, with `reason`, when it
// does not describe them. The empty line is the defaults.
std::optional<OutputOptions> ParseOutputOptionsText(std::string_view text, std::string& reason);

// The line that parses back to `options`: only what differs from the defaults.
std::string OutputOptionsText(const OutputOptions& options);

// Applies one command (its words, as above) to `options`; false, with
// `reason`, when the words are not a command, leaving `options` as it was.
bool ApplyOutputCommand(OutputOptions& options, const std::vector<std::string>& words, std::string& reason);
