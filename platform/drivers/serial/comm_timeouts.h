// The Win32 meaning of COMMTIMEOUTS, as deadlines on the steady clock.
//
// Reads: (MAXDWORD, 0, 0) returns at once with what is there, possibly
// nothing; (MAXDWORD, MAXDWORD, c) with 0 < c < MAXDWORD waits up to c ms for
// the first byte and returns as soon as any arrived; otherwise the total limit
// is multiplier * count + constant (0: none) and the interval limit, counted
// from the latest arrival once a byte came, is ReadIntervalTimeout (0: none).
// (0, 0, 0) therefore waits until the full count has arrived.
// Writes: the total limit is multiplier * count + constant, 0 meaning none.
#pragma once

#include <chrono>
#include <optional>

#include "platform/comm.h"

namespace platform::serial {

using Clock = std::chrono::steady_clock;
// When a wait must end; empty means no limit.
using Deadline = std::optional<Clock::time_point>;

// Whether SetCommTimeouts accepts the record: all three read fields at
// MAXDWORD is refused, as on Windows.
bool AreValidTimeouts(const COMMTIMEOUTS& timeouts);

class ReadTimer {
public:
    ReadTimer(const COMMTIMEOUTS& timeouts, DWORD count, Clock::time_point start);

    struct Step {
        bool over;           // the read returns with what it has
        Deadline deadline;   // otherwise, how long the next wait may last
    };
    // Called after every look at the input with the bytes read so far.
    Step Next(DWORD got, Clock::time_point now);

private:
    enum class Mode { Immediate, FirstByte, Limits };

    Mode mode_ = Mode::Limits;
    Deadline total_;
    std::optional<Clock::duration> interval_;
    DWORD lastGot_ = 0;
    Clock::time_point lastArrival_;
};

Deadline WriteDeadline(const COMMTIMEOUTS& timeouts, DWORD count, Clock::time_point start);

}  // namespace platform::serial
