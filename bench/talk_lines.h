// The lines that the programs of the talk runs write to their ports: each a
// proprietary sentence ($PBNCH) naming its talker (a letter) and its number,
// padded to the length asked for, so that the receiver at the input tells
// every line it reads by its text alone.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tavrel::bench {

struct TalkLineId {
    char talker = 0;
    std::size_t number = 0;
    bool operator==(const TalkLineId&) const = default;
};

// "$PBNCH,<talker>,<number>,<padding X's>*hh" CR LF.
std::string TalkLine(char talker, std::size_t number, std::size_t padding = 0);

// Which talk line `line` is, CR LF included; nothing for a line that is not
// one whole and unchanged.
std::optional<TalkLineId> TalkLineOf(std::string_view line);

}  // namespace tavrel::bench
