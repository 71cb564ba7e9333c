// The merge section of the report: Tavrel and Signal K side by side, each
// merging three inputs (GPS, AIS, wind) to its readers, with what every
// reader got per source, the lines torn, the AIS groups split, latency per
// source, CPU per MB of input and peak memory.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "bench/merge_tally.h"

namespace tavrel::bench {

struct MergeFigures {
    std::array<std::size_t, kMergeSources> sent{};                    // sentences written whole
    LineTally lines;                                                  // over every reader
    std::array<std::vector<double>, kMergeSources> millis;            // every reader's every sentence
    std::array<std::vector<double>, kMergeSources> tcpMillis;         // the TCP clients' only
    std::size_t inputBytes = 0;                                       // of the three inputs together
    double cpuSeconds = 0;                                            // of the relay's processes, over the run
    std::uint64_t peakResidentKilobytes = 0;                          // VmHWM, summed over its processes
    double readySeconds = 0;       // launch → every reader had a line of every input (and the relay answered)
    std::string notReady;          // what was still missing when the warm-up gave up; empty when nothing
    std::string ownCounts;         // the relay's own account of its inputs, when it gives one
};

struct MergeResult {
    std::string relay;
    std::string readers;           // "9 virtual ports + 4 TCP clients"
    std::optional<MergeFigures> figures;
    std::string failure;           // when it ran and there are no figures
    std::string skipped;           // when it did not run, why
};

std::string MergeTable(const std::vector<MergeResult>& results);
// Below the table: per relay, what the table has no room for.
std::string MergeNotes(const std::vector<MergeResult>& results);
// The merge runs that failed, one line each; empty when none did.
std::string MergeFailureList(const std::vector<MergeResult>& results);

}  // namespace tavrel::bench
