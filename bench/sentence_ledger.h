// When each reader had each whole sentence of a paced stream, to time the
// sentences from the moment their write began on the input: the latency a
// navigation program sees, sentence by sentence.
#pragma once

#include <vector>

#include "bench/clock.h"

namespace tavrel::bench {

class SentenceLedger {
public:
    // `lineEnds`: the offset just past each sentence of the stream.
    SentenceLedger(std::vector<std::size_t> lineEnds, std::size_t readers);

    // `reader` now has the first `inOrder` bytes of the stream, unchanged,
    // as of `seen`: every sentence they complete is timed at `seen`.
    void Reached(std::size_t reader, std::size_t inOrder, Clock::time_point seen);

    // Milliseconds from the write of each of the first `sent` sentences
    // (`sentAt`) to its arrival, for every reader that had it whole.
    std::vector<double> Millis(const std::vector<Clock::time_point>& sentAt, std::size_t sent) const;

private:
    std::vector<std::size_t> lineEnds_;
    std::vector<std::vector<Clock::time_point>> arrivals_;   // per reader, per sentence it completed
};

}  // namespace tavrel::bench
