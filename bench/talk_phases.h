// What the programs on the talking ports write in the talk run: one line
// every 100 ms from one program, for its latency; then a flood from that
// program while the other two write a line now and then.
#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

#include "bench/clock.h"
#include "bench/talk_tally.h"
#include "bench/talking_programs.h"

namespace tavrel::bench {

inline constexpr std::chrono::milliseconds kLatencyInterval{100};

// Line k of the latency talker, written by program 0 at start + k * 100 ms
// for k < lines; returns when each write began.
std::vector<Clock::time_point> TalkAtIntervals(const TalkingPrograms& programs, std::size_t lines,
                                               Clock::time_point start);

// For `length` from now: program 0 writes the flooder's lines as fast as its
// port takes them, while programs 1 and 2 write a line each in turn, one
// every 250 ms each. Notes the flood's start, its bytes and the lines of the other two.
void Flood(const TalkingPrograms& programs, std::chrono::seconds length, TalkSent& sent);

}  // namespace tavrel::bench
