// One merge run: a relay launched with its three inputs fed and its outputs
// read, warmed up until every reader has had a line of every input, then
// each source's sentences paced at its own rate for the run's length while
// every reader is read and every line accounted for. Ends the relay.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "bench/merge_feeds.h"
#include "bench/merge_report.h"
#include "bench/output_readers.h"
#include "bench/relay.h"

namespace tavrel::bench {

struct MergePlan {
    std::chrono::seconds length{0};
    std::array<SourceStream, kMergeSources> streams;
};

MergePlan MergePlanFor(std::chrono::seconds length);

struct MergeSubject {
    Relay& relay;
    std::array<Feed*, kMergeSources> feeds;      // GPS, AIS, wind
    std::vector<OutputReaders::Opener> outputs;  // the virtual ports first, then the TCP clients
    std::size_t ports = 0;                       // how many of the outputs are virtual ports
    std::function<bool()> answers;               // beside the lines that flow, whether the relay is up; none: it is
    std::function<std::string()> ownCounts;      // the relay's own account of its inputs; none: it gives none
};

MergeFigures MeasureMerge(MergeSubject& subject, const MergePlan& plan);

}  // namespace tavrel::bench
