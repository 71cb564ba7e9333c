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

// Latency through a relay's TCP server: `clients` connect to it once it is
// launched, every one is read, and `samples` numbered bytes are timed until
// the last client has each. Ends the relay.
LatencyFigures MeasureNetworkLatency(Relay& relay, const InputLine& input, std::size_t clients, std::size_t samples,
                                     std::mt19937& random);

// NMEA paced at the plan's baud rate to kReadingClients clients that read
// all the time and one, connected last with a small receive buffer, that
// reads only after the run. Ends the relay.
NetworkRealisticFigures MeasureNetworkRealistic(Relay& relay, const InputLine& input, const RealisticPlan& plan);

// Bytes per second on a line at `baud` with 8 data bits, no parity and one
// stop bit: ten bits a byte.
double BytesPerSecond(int baud);

}  // namespace tavrel::bench
