// The small pieces of NMEA 0183 text that the relay's shaping and merging and
// the settings' escapes all read: hex digits, a line without its end, and a
// sentence's checksum.
#pragma once

#include <optional>
#include <span>
#include <string_view>

// The value of a hex digit, either case; nothing for another character.
std::optional<unsigned> HexDigitValue(char digit);

// The bytes of a line as text, without the CR and LF that end it.
std::string_view WithoutLineEnd(std::span<const unsigned char> line);

// The XOR of `bytes`, as a sentence's checksum is made.
unsigned XorOf(std::string_view bytes);

// The sentence (without its line end) between its start mark and "*hh",
// when hh is the XOR of those bytes; nothing when it carries no checksum or a wrong one.
std::optional<std::string_view> CheckedBody(std::string_view sentence);
