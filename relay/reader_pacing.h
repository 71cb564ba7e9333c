// Holds the relay back, for a moment, while the programs on the outputs lag.
//
// A write to a virtual port never waits for the program that reads it: what
// does not fit waits in the port's driver, and when the program falls further
// behind than that holds, the oldest bytes are dropped. When the input
// delivers faster than the programs read (a burst, or a program that was busy
// for a moment) the relay waits for them after a chunk, so that a program
// that keeps up loses nothing. It waits only so long: a program that does not
// catch up within it is no longer waited for until it has taken everything
// that waited for it, so a program that never reads costs one such wait, and
// a slow one cannot hold the others, nor the input, for long.
#pragma once

#include <vector>

#include "platform/types.h"

class CSerial;

// One open output as the pacing sees it.
struct PacedOutput {
    CSerial* port = nullptr;
    // Its reader did not catch up in time: not waited for until its driver
    // holds nothing for it.
    bool givenUp = false;
};

// After a chunk: when an output that is waited for holds a long backlog,
// waits on `stopEvent`, looking again every millisecond, until every such
// output's backlog is short again, for at most 250 ms; the outputs still
// behind then are given up. WAIT_TIMEOUT when relaying goes on; otherwise what
// the wait on `stopEvent` returned (WAIT_OBJECT_0 for the stop, or a failure).
// An output whose driver keeps no count is never waited for.
DWORD WaitForLaggingReaders(std::vector<PacedOutput>& outputs, HANDLE stopEvent);
