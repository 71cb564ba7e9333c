#include "testkit/proc_stats.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace tavrel::testing {
namespace {

std::optional<std::uint64_t> ParseNumber(std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end == text.data()) {
        return std::nullopt;
    }
    return value;
}

// The space-separated field `index` (0-based) of `text`.
std::string_view Field(std::string_view text, std::size_t index)
{
    for (std::size_t i = 0; i < index; ++i) {
        const auto space = text.find(' ');
        if (space == std::string_view::npos) {
            return {};
        }
        text.remove_prefix(space + 1);
    }
    return text.substr(0, text.find(' '));
}

// A "0x..." field of a syscall file.
std::optional<std::uint64_t> ParseHex(std::string_view text)
{
    if (text.substr(0, 2) != "0x") {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data() + 2, text.data() + text.size(), value, 16);
    if (error != std::errc{} || end == text.data() + 2) {
        return std::nullopt;
    }
    return value;
}

std::string WithoutNewline(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) {
        text.pop_back();
    }
    return text;
}

std::string ProcessFolder(pid_t process)
{
    return "/proc/" + std::to_string(process);
}

}  // namespace

std::optional<std::uint64_t> CpuTicksFromStat(std::string_view stat)
{
    const auto nameEnd = stat.rfind(')');
    if (nameEnd == std::string_view::npos || nameEnd + 2 > stat.size()) {
        return std::nullopt;
    }
    // After ") " comes field 3 (state); utime is field 14, stime field 15.
    const std::string_view fields = stat.substr(nameEnd + 2);
    const auto user = ParseNumber(Field(fields, 11));
    const auto system = ParseNumber(Field(fields, 12));
    if (!user || !system) {
        return std::nullopt;
    }
    return *user + *system;
}

std::optional<std::uint64_t> StatusNumber(std::string_view status, std::string_view name)
{
    std::size_t start = 0;
    while (start < status.size()) {
        const auto end = std::min(status.find('\n', start), status.size());
        const std::string_view line = status.substr(start, end - start);
        if (line.size() > name.size() && line.substr(0, name.size()) == name && line[name.size()] == ':') {
            std::string_view value = line.substr(name.size() + 1);
            value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
            return ParseNumber(value);
        }
        start = end + 1;
    }
    return std::nullopt;
}

std::string ReadProcText(const std::string& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();   // to the end, whatever size the kernel reports
    return text.str();
}

double CpuSeconds(std::span<const pid_t> processes)
{
    std::uint64_t ticks = 0;
    for (const pid_t process : processes) {
        ticks += CpuTicksFromStat(ReadProcText(ProcessFolder(process) + "/stat")).value_or(0);
    }
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::uint64_t ResidentKilobytes(std::span<const pid_t> processes)
{
    std::uint64_t kilobytes = 0;
    for (const pid_t process : processes) {
        kilobytes += StatusNumber(ReadProcText(ProcessFolder(process) + "/status"), "VmRSS").value_or(0);
    }
    return kilobytes;
}

std::vector<ThreadSample> SampleThreads(std::span<const pid_t> processes)
{
    std::vector<ThreadSample> samples;
    for (const pid_t process : processes) {
        std::error_code error;
        for (const auto& task : std::filesystem::directory_iterator(ProcessFolder(process) + "/task", error)) {
            const std::string folder = task.path().string();
            const std::string status = ReadProcText(folder + "/status");
            ThreadSample sample;
            sample.process = process;
            sample.thread = static_cast<pid_t>(ParseNumber(task.path().filename().string()).value_or(0));
            sample.name = WithoutNewline(ReadProcText(folder + "/comm"));
            sample.sleepsIn = WithoutNewline(ReadProcText(folder + "/wchan"));
            if (sample.sleepsIn == "0") {
                sample.sleepsIn = "(running)";   // the kernel shows 0 for a thread that is not waiting
            }
            sample.switches = StatusNumber(status, "voluntary_ctxt_switches").value_or(0) +
                              StatusNumber(status, "nonvoluntary_ctxt_switches").value_or(0);
            samples.push_back(sample);
        }
    }
    return samples;
}

std::optional<ThreadSample> ThreadNamed(pid_t process, std::string_view name)
{
    const pid_t processes[] = {process};
    for (ThreadSample& thread : SampleThreads(processes)) {
        if (thread.name == name) {
            return std::move(thread);
        }
    }
    return std::nullopt;
}

namespace {

// Whether a thread's stat line says it sleeps (state S, after the name in parentheses).
bool Sleeping(std::string_view stat)
{
    const auto nameEnd = stat.rfind(") ");
    return nameEnd != std::string_view::npos && stat.substr(nameEnd + 2, 1) == "S";
}

}  // namespace

// Where a polling call keeps its time-out in a syscall line: the argument's
// place, and whether it is milliseconds (an int; negative waits for ever) or
// a timespec pointer (null waits for ever).
struct TimeoutArgument {
    std::size_t field;
    bool pointer;
};

std::optional<TimeoutArgument> TimeoutArgumentOf(long call)
{
#ifdef SYS_poll   // not on every architecture: aarch64 has ppoll only
    if (call == SYS_poll) {   // poll(fds, count, milliseconds)
        return TimeoutArgument{3, false};
    }
#endif
#ifdef SYS_epoll_wait   // aarch64 has epoll_pwait only
    if (call == SYS_epoll_wait) {   // epoll_wait(epoll, events, count, milliseconds)
        return TimeoutArgument{4, false};
    }
#endif
    if (call == SYS_epoll_pwait) {   // epoll_pwait(epoll, events, count, milliseconds, mask)
        return TimeoutArgument{4, false};
    }
    if (call == SYS_ppoll) {   // ppoll(fds, count, timespec*, mask)
        return TimeoutArgument{3, true};
    }
    return std::nullopt;
}

PollSleep PollSleepFromTexts(std::string_view stat, std::string_view syscall)
{
    const auto call = ParseNumber(Field(syscall, 0));
    const auto argument = call ? TimeoutArgumentOf(static_cast<long>(*call)) : std::nullopt;
    const auto timeout = argument ? ParseHex(Field(syscall, argument->field)) : std::nullopt;
    if (!Sleeping(stat) || !timeout) {
        return PollSleep::None;
    }
    // An int time-out may come sign-extended or not.
    const bool forever = argument->pointer ? *timeout == 0 : static_cast<std::int32_t>(*timeout & 0xFFFFFFFFu) < 0;
    return forever ? PollSleep::Untimed : PollSleep::Timed;
}

PollSleep PollSleepOf(pid_t process, pid_t thread)
{
    const std::string task = ProcessFolder(process) + "/task/" + std::to_string(thread);
    return PollSleepFromTexts(ReadProcText(task + "/stat"), ReadProcText(task + "/syscall"));
}

std::size_t OpenDescriptorCount()
{
    std::error_code error;
    std::filesystem::directory_iterator entries("/proc/self/fd", error);
    if (error) {
        return 0;
    }
    // The listing holds one descriptor of its own while it is read.
    const auto count = static_cast<std::size_t>(std::distance(entries, std::filesystem::directory_iterator()));
    return count > 0 ? count - 1 : 0;
}

bool SleepsIn(pid_t thread, std::initializer_list<long> calls)
{
    const std::string task = "/proc/self/task/" + std::to_string(thread);
    const auto call = ParseNumber(Field(ReadProcText(task + "/syscall"), 0));
    return Sleeping(ReadProcText(task + "/stat")) && call &&
           std::find(calls.begin(), calls.end(), static_cast<long>(*call)) != calls.end();
}

bool WaitUntilSleepsIn(const std::atomic<pid_t>& thread, std::initializer_list<long> calls)
{
    for (int look = 0; look < 10000; ++look) {
        if (thread != 0 && SleepsIn(thread, calls)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

}  // namespace tavrel::testing
