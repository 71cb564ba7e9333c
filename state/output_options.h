// What each output does besides carrying the stream: whether the program on
// it may talk back to an input, and how the stream is shaped for that
// program. The defaults keep an output as it always was: transparent, and
// what its program writes thrown away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Off: what the program writes is thrown away. Lines: each line it writes
// (up to LF) reaches the input whole. Raw: its bytes pass as they come, for a
// receiver's binary protocol; one raw talker per input at a time.
enum class TalkMode : std::uint8_t { Off, Lines, Raw };

// A sentence pattern, as a person writes it:
// - "GGA": the sentence type, from any talker ("$GPGGA", "$GNGGA");
// - "GPGGA", "$GPGGA", "!AIVDM": a whole address, with or without its start
//   character (without one, either start character matches);
// - "$PGRM*", "PGRM*": every address that starts so.
using SentencePattern = std::string;

struct TalkerRewrite {
    std::string from;   // two characters, "GN"
    std::string to;     // two characters, "GP"
    bool operator==(const TalkerRewrite&) const = default;
};

struct SentenceInterval {
    SentencePattern pattern;     // "RMC"
    std::uint32_t everyMs = 0;   // at most one such sentence per this many ms
    bool operator==(const SentenceInterval&) const = default;
};

// How an output's stream is shaped. Empty lists and `checksum` off: the
// output is transparent and gets the stream byte for byte.
struct OutputShape {
    std::vector<SentencePattern> only{};    // when not empty, only sentences that match one pass
    std::vector<SentencePattern> deny{};    // sentences that match one are dropped
    bool checksum = false;                  // drop sentences with a bad or missing checksum
    std::vector<TalkerRewrite> talkers{};    // talker rewrites, the checksum made anew
    std::vector<SentenceInterval> every{};  // decimation

    bool Transparent() const
    {
        return only.empty() && deny.empty() && !checksum && talkers.empty() && every.empty();
    }
    bool operator==(const OutputShape&) const = default;
};

struct OutputOptions {
    TalkMode talk = TalkMode::Off;
    std::size_t talkTo = 0;   // the input the program talks to: 0 the main one, 1 to 8 the extra ones
    OutputShape shape{};
    bool operator==(const OutputOptions&) const = default;
};
