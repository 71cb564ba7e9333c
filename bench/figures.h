// What one measured run of a relay yields, phase by phase, and what the
// realistic run yields. Times are in milliseconds from the start named.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bench/relay.h"
#include "bench/wakeups.h"

namespace tavrel::bench {

struct LaunchFigures {
    double linksMs = 0;       // exec → the last output's port could be opened through its link
    double firstByteMs = 0;   // exec → every output has read a byte
};

struct LatencyFigures {
    std::vector<double> millis;    // input write → every output has the byte, per byte
    std::size_t unanswered = 0;    // bytes sent that some output never got
    std::size_t garbled = 0;       // bytes read that were never sent at that place
};

// What reached the outputs that were read, against what the input took.
struct Delivery {
    std::size_t mostMissing = 0;                  // on the output that got the fewest
    std::optional<std::size_t> firstDifference;   // the earliest over the outputs (see StreamCheck)

    bool Whole() const { return mostMissing == 0 && !firstDifference; }
    // Takes in one more output's (or run's) figures: the most missing, the earliest difference.
    void Add(std::size_t missing, std::optional<std::size_t> difference)
    {
        mostMissing = std::max(mostMissing, missing);
        if (difference) {
            firstDifference = std::min(firstDifference.value_or(*difference), *difference);
        }
    }
};

struct ThroughputFigures {
    std::size_t accepted = 0;   // bytes the input took
    double seconds = 0;         // first write → last byte at the slowest output
    Delivery delivery;
    double cpuSeconds = 0;      // of every process of the relay, over the phase
};

struct RunFigures {
    LaunchFigures launch;
    std::vector<ThreadWakeups> idle;
    LatencyFigures latency;
    ThroughputFigures throughput;
    std::uint64_t residentKilobytes = 0;   // after the throughput phase
    double exitMs = 0;                     // SIGTERM → the last process reaped
    ExitOutcome exit;
};

struct RealisticFigures {
    std::size_t scheduled = 0;   // bytes of the sentences due at the baud rate within the run
    std::size_t accepted = 0;    // bytes the input took in that time
    Delivery byTheEnd;           // on the read outputs, two seconds after the last write
    Delivery forGood;            // on the read outputs, once the never-read output was read too
    std::size_t neverReadHeld = 0;   // what the never-read output gave when it was read at last
    std::uint64_t residentStartKilobytes = 0;
    std::uint64_t residentEndKilobytes = 0;
};

// The realistic run over TCP: reading clients and one that never reads.
struct NetworkRealisticFigures {
    std::size_t scheduled = 0;            // bytes of the sentences due at the baud rate within the run
    std::size_t accepted = 0;             // bytes the input took in that time
    std::vector<std::size_t> readerLost;  // per reading client: due bytes it did not get, in order and unchanged
    std::vector<double> sentenceMillis;   // every reading client's every whole sentence: write began → read
    bool stalledCutOff = false;           // the relay closed the client that never read
    std::optional<double> cutOffAfter;    // seconds into the run when the relay closed a socket
    std::size_t stalledHeld = 0;          // what the never-reading client gave when it was read at last
};

}  // namespace tavrel::bench
