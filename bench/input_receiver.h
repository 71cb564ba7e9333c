// The receiver on the input's line, as far as the talk run needs one: it
// reads what the relay writes to the input on a thread of its own, from its
// making until Stop, and keeps each line with when the read that ended it
// returned.
#pragma once

#include <thread>
#include <vector>

#include "bench/input_line.h"
#include "bench/talk_tally.h"

namespace tavrel::bench {

class InputReceiver {
public:
    explicit InputReceiver(const InputLine& input);
    // Stops reading; every line read.
    std::vector<ArrivedLine> Stop();

private:
    void Read(const std::stop_token& stop);

    const InputLine& input_;
    std::vector<ArrivedLine> lines_;
    std::jthread thread_;
};

}  // namespace tavrel::bench
