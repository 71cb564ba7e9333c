// The shaping and talk section of the report: what shaping costs the relay's
// worker against the same stream unshaped, how fast a program's line reaches
// the input, and what comes through while one program floods.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "bench/talk_tally.h"

namespace tavrel::bench {

// Shaping may cost the worker at most this many times the unshaped run's CPU per MB.
inline constexpr double kShapingCostGoal = 2.0;

struct ShapeCostFigures {
    std::size_t inputBytes = 0;
    double workerSeconds = 0;     // the relay's busiest thread, its worker, over the run
    double processSeconds = 0;    // every thread of the relay
    std::vector<std::size_t> outputBytes;   // read at each virtual port
};

struct ShapeCostResult {
    std::vector<std::string> portShapes;   // each virtual port's shape, in words ("" for none)
    std::optional<ShapeCostFigures> figures;
    std::string failure;
};

struct TalkResult {
    std::optional<TalkFigures> figures;
    std::string failure;
};

struct ShapeResults {
    ShapeCostResult unshaped;
    ShapeCostResult shaped;
    TalkResult talk;
};

// Seconds of the worker per 10^6 bytes of input; nothing without figures.
std::optional<double> WorkerPerMegabyte(const ShapeCostResult& result);
// The shaped run's worker CPU per MB over the unshaped run's; nothing when either is missing.
std::optional<double> ShapingCostRatio(const ShapeResults& results);

std::string ShapeTable(const ShapeResults& results);
// Below the table: the bytes each port got, and which thread was counted.
std::string ShapeNotes(const ShapeResults& results);
// The runs that failed, one line each; empty when none did.
std::string ShapeFailureList(const ShapeResults& results);

}  // namespace tavrel::bench
