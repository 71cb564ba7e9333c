// The stream of the shaping and talk section: GPS and AIS sentences on one
// line at 38400 baud, as a multiplexer on a boat hands them over. The GPS
// receiver's sentences come at their own 4800 baud share, GGA, RMC and GSA
// from the GN talker of a multi-constellation receiver (GSV stays per
// constellation); AIS fills the rest of the line, the two fragments of a
// message never parted.
#pragma once

#include <chrono>
#include <string>

#include "bench/test_streams.h"

namespace tavrel::bench {

inline constexpr int kShapeBaud = 38400;
inline constexpr double kShapeBytesPerSecond = kShapeBaud / 10.0;

// The sentences of at least `length` at 38400 baud, in the order the line
// carries them (SendPaced sends those due within its run).
NmeaStream MixedStream(std::chrono::seconds length);

// `sentence` with its talker (the two characters after its start) replaced
// by `talker`, its checksum made anew.
std::string Retalked(const std::string& sentence, const std::string& talker);

}  // namespace tavrel::bench
