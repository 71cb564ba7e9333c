// The byte streams that the benchmark sends. None holds a zero byte: the
// relay passes each chunk on only up to its first zero byte, and the figures
// are about speed, not about that rule.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tavrel::bench {

// `size` bytes from 1 to 255 that depend on their position through a hash,
// so that a lost, repeated or reordered stretch of any length shows up as
// bytes that differ from what was sent at their place.
std::vector<unsigned char> PositionPattern(std::size_t size);

// NMEA 0183 sentences as a GPS receiver sends them ($GPGGA and $GPRMC in
// turn, each with its checksum and CR LF), numbered through their time field
// so that no two nearby lines are alike.
struct NmeaStream {
    std::vector<unsigned char> bytes;
    std::vector<std::size_t> lineEnds;   // the offset just past each line
};

// Whole sentences, at least `size` bytes of them.
NmeaStream NmeaSentences(std::size_t size);

// The body of sentence `number` of that stream: $GPGGA for an even number,
// $GPRMC for an odd one, its time field counting hundredths of a second.
std::string GpsBody(std::size_t number);

// One sentence: `lead` ('$', or '!' for AIS) + body + "*" + the XOR of the
// body's bytes in two upper-case hex digits + CR LF.
std::string NmeaSentence(const std::string& body, char lead = '$');

}  // namespace tavrel::bench
