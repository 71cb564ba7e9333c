// Whole measured runs of one relay, from launch to SIGTERM: the run that
// yields the side-by-side figures, and the realistic run (NMEA at a baud
// rate, one output never read).
#pragma once

#include <chrono>
#include <random>

#include "bench/figures.h"
#include "bench/input_line.h"
#include "bench/plans.h"
#include "bench/relay.h"

namespace tavrel::bench {

RunFigures MeasureRun(Relay& relay, const InputLine& input, const RunPlan& plan, std::mt19937& random);

// Every output but the last is read all the time; the last is opened and
// not read until the end.
RealisticFigures MeasureRealistic(Relay& relay, const InputLine& input, const RealisticPlan& plan);

// Bytes per second on a line at `baud` with 8 data bits, no parity and one
// stop bit: ten bits a byte.
double BytesPerSecond(int baud);

}  // namespace tavrel::bench
