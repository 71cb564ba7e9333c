// The talk run: a relay whose three outputs talk back in lines to its input,
// which streams GPS and AIS at 38400 baud throughout. The programs on the
// ports read what the relay sends them and write their lines (talk_phases.h);
// a receiver on the input's line reads what reaches it. Ends the relay.
#pragma once

#include <chrono>
#include <cstddef>

#include "bench/input_line.h"
#include "bench/relay.h"
#include "bench/talk_tally.h"

namespace tavrel::bench {

struct TalkPlan {
    std::size_t latencyLines = 200;    // one every 100 ms
    std::chrono::seconds flood{10};
};

TalkFigures MeasureTalk(Relay& relay, const InputLine& input, const TalkPlan& plan);

}  // namespace tavrel::bench
