// What the kernel reports about running processes under /proc: CPU time
// (utime + stime, all threads included), resident memory (VmRSS), and for
// each thread its context switches, its name and where it sleeps. A process
// that has gone counts as nothing.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::testing {

// utime + stime, fields 14 and 15 of a /proc/<pid>/stat line, in clock
// ticks. The name field may hold spaces and parentheses, so the fields are
// counted from its last ')'. Nothing for a text that is not such a line.
std::optional<std::uint64_t> CpuTicksFromStat(std::string_view stat);

// The number after "<name>:" at the start of a line of a /proc status text
// ("VmRSS:\t    4512 kB" gives 4512); nothing when there is no such line.
std::optional<std::uint64_t> StatusNumber(std::string_view status, std::string_view name);

// The whole text of a /proc file (whose size the kernel reports as 0); empty
// when it cannot be read.
std::string ReadProcText(const std::string& path);

// Summed over the processes.
double CpuSeconds(std::span<const pid_t> processes);
std::uint64_t ResidentKilobytes(std::span<const pid_t> processes);

struct ThreadSample {
    pid_t process = 0;
    pid_t thread = 0;
    std::string name;       // comm
    std::string sleepsIn;   // wchan: the kernel function the thread waits in, or "(running)"
    std::uint64_t switches = 0;   // voluntary + nonvoluntary context switches
};

// Every thread of every process, in the order the kernel lists them.
std::vector<ThreadSample> SampleThreads(std::span<const pid_t> processes);
// The first thread of the process with that name; nothing when none has it.
std::optional<ThreadSample> ThreadNamed(pid_t process, std::string_view name);

// How a thread sleeps in poll(), ppoll() or epoll_wait(): not at all (it runs, or waits in
// another call), until a time-out, or with none, woken only by its
// descriptors. A thread that sleeps untimed makes no wake-ups of its own.
enum class PollSleep { None, Timed, Untimed };

// From the texts of a thread's /proc stat and syscall files (the call's
// number and arguments in hex, or "running").
PollSleep PollSleepFromTexts(std::string_view stat, std::string_view syscall);
PollSleep PollSleepOf(pid_t process, pid_t thread);

// How many descriptors this process holds open now (the entries of
// /proc/self/fd, less the one that listing them opens).
std::size_t OpenDescriptorCount();

// Whether the thread `thread` of this process sleeps (state S) inside one of
// the system calls `calls` now, as the host reports it.
bool SleepsIn(pid_t thread, std::initializer_list<long> calls);

// Waits until the thread `thread` of this process (0 while it is not known
// yet) sleeps (state S) inside one of the system calls `calls` (SYS_poll,
// SYS_read, ...), as the host reports it, looking every millisecond; false
// after 10 s of never finding it there (a thread that spins, or whose call
// returned at once, never is).
bool WaitUntilSleepsIn(const std::atomic<pid_t>& thread, std::initializer_list<long> calls);

}  // namespace tavrel::testing
