#include "drivers/serial/comm_timeouts.h"

#include <algorithm>
#include <cstdint>

namespace platform::serial {
namespace {

// Longer than any program waits (about 34 years); beyond it a limit is no
// limit, which also keeps the clock arithmetic from overflowing.
constexpr std::uint64_t longestLimitMs = std::uint64_t{1} << 40;

std::optional<Clock::duration> Milliseconds(std::uint64_t ms)
{
    if (ms == 0 || ms > longestLimitMs) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(ms);
}

Deadline After(Clock::time_point start, std::uint64_t ms)
{
    const auto limit = Milliseconds(ms);
    return limit ? Deadline(start + *limit) : std::nullopt;
}

Deadline TotalDeadline(DWORD multiplier, DWORD constant, DWORD count, Clock::time_point start)
{
    return After(start, std::uint64_t{multiplier} * count + constant);
}

Deadline Earlier(Deadline first, Deadline second)
{
    if (!first || !second) {
        return first ? first : second;
    }
    return std::min(*first, *second);
}

}  // namespace

bool AreValidTimeouts(const COMMTIMEOUTS& timeouts)
{
    return !(timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
             timeouts.ReadTotalTimeoutConstant == MAXDWORD);
}

ReadTimer::ReadTimer(const COMMTIMEOUTS& timeouts, DWORD count, Clock::time_point start) : lastArrival_(start)
{
    const DWORD interval = timeouts.ReadIntervalTimeout;
    const DWORD multiplier = timeouts.ReadTotalTimeoutMultiplier;
    const DWORD constant = timeouts.ReadTotalTimeoutConstant;
    if (interval == MAXDWORD && multiplier == 0 && constant == 0) {
        mode_ = Mode::Immediate;
    } else if (interval == MAXDWORD && multiplier == MAXDWORD && constant != 0 && constant != MAXDWORD) {
        mode_ = Mode::FirstByte;
        total_ = After(start, constant);
    } else {
        total_ = TotalDeadline(multiplier, constant, count, start);
        interval_ = Milliseconds(interval);
    }
}

ReadTimer::Step ReadTimer::Next(DWORD got, Clock::time_point now)
{
    if (got > lastGot_) {
        lastGot_ = got;
        lastArrival_ = now;
    }
    Deadline deadline = total_;
    switch (mode_) {
    case Mode::Immediate:
        return Step{true, std::nullopt};
    case Mode::FirstByte:
        if (got > 0) {
            return Step{true, std::nullopt};
        }
        break;
    case Mode::Limits:
        if (got > 0 && interval_) {
            deadline = Earlier(deadline, lastArrival_ + *interval_);
        }
        break;
    }
    return Step{deadline && now >= *deadline, deadline};
}

Deadline WriteDeadline(const COMMTIMEOUTS& timeouts, DWORD count, Clock::time_point start)
{
    return TotalDeadline(timeouts.WriteTotalTimeoutMultiplier, timeouts.WriteTotalTimeoutConstant, count, start);
}

}  // namespace platform::serial
