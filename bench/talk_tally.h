// What the talk run's programs wrote and what the receiver at the input read,
// told line by line: the latency of the lines written one every 100 ms, the
// occasional talkers' lines that came through a flood whole, and the share
// of the line rate that the flooder got.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/clock.h"

namespace tavrel::bench {

// The talkers of the talk run, by the letter their lines carry.
inline constexpr char kLatencyTalker = 'L';
inline constexpr char kFlooder = 'F';
inline constexpr std::array<char, 2> kOccasionalTalkers = {'B', 'C'};

// A line read at the input, LF included, with when the read that ended it returned.
struct ArrivedLine {
    std::string text;
    Clock::time_point seen;
};

struct TalkSent {
    std::vector<Clock::time_point> latencyWrites;   // line k of the latency talker: just before its write
    std::array<std::size_t, kOccasionalTalkers.size()> occasional{};   // lines each occasional talker wrote whole
    std::size_t floodWritten = 0;                   // bytes the flooder's port took
    Clock::time_point floodStart;
};

struct TalkFigures {
    std::vector<double> latencyMillis;   // each latency line that arrived: its write → its LF read at the input
    std::size_t latencySent = 0;
    std::size_t occasionalSent = 0;      // the occasional talkers' lines, together
    std::size_t occasionalWhole = 0;     // ... that reached the input whole, each counted once
    std::size_t floodWritten = 0;
    std::size_t floodArrived = 0;        // bytes of the flooder's lines that reached the input whole
    double floodSeconds = 0;             // the flood's start → the last talk line at the input
    std::size_t floodAllArrived = 0;     // bytes of every talk line that reached the input after the flood's start
    double floodWorkerSeconds = 0;       // the CPU time of the relay's busiest thread over the flood
    double floodProcessSeconds = 0;      // ... and of all its threads
    std::size_t notWhole = 0;            // lines at the input that were no talk line whole
    double lineRate = 0;                 // the input's bytes per second
};

TalkFigures TallyTalk(const std::vector<ArrivedLine>& lines, const TalkSent& sent, double lineRate);

// The flooder's bytes per second through to the input, and every talker's
// together, over the flood's start → the last talk line; 0 when none came.
double FloodRate(const TalkFigures& figures);
double FloodAllRate(const TalkFigures& figures);

}  // namespace tavrel::bench
