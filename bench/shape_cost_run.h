// One shaping-cost run: a relay launched with its outputs read, then the
// mixed GPS and AIS stream paced at 38400 baud for the run's length while
// every output is read; the CPU time of the relay's threads over the stream,
// its busiest thread (the worker) apart. Ends the relay.
#pragma once

#include <chrono>

#include "bench/input_line.h"
#include "bench/output_readers.h"
#include "bench/relay.h"
#include "bench/shape_report.h"

namespace tavrel::bench {

// Launches the relay while the input sends a sentence that every shape of
// the section lets through (a $GPGGA), until every output reads; then drops
// what the warm-up left at the outputs. Throws when an output never reads.
void LaunchAndWarmUp(Relay& relay, const InputLine& input, OutputReaders& readers);

ShapeCostFigures MeasureShapeCost(Relay& relay, const InputLine& input, std::chrono::seconds length);

}  // namespace tavrel::bench
