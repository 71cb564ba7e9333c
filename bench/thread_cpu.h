// How long each thread of a process has run, in nanoseconds, from the first
// field of /proc/<pid>/task/<tid>/schedstat: finer than the clock ticks of
// /proc/<pid>/stat, which a relay at 38400 baud, running a few milliseconds
// a second, would fill only a few of.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>

namespace tavrel::bench {

// The first number of a schedstat text; nothing for a text without one.
std::optional<std::uint64_t> RunNanosecondsFromSchedstat(std::string_view text);

// Each thread's run time by its id; empty for a process that has gone.
using ThreadRunTimes = std::map<pid_t, std::uint64_t>;
ThreadRunTimes RunTimesOf(pid_t process);

struct ThreadCpu {
    pid_t busiest = 0;          // the thread that ran the most in between
    double busiestSeconds = 0;
    double allSeconds = 0;      // every thread together
};

// Between two samples of one process: a thread that started in between
// counts from zero, one that ended counts as nothing.
ThreadCpu CpuBetween(const ThreadRunTimes& before, const ThreadRunTimes& after);

}  // namespace tavrel::bench
