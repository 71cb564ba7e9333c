#include "bench/thread_cpu.h"

#include <charconv>
#include <filesystem>

#include "testkit/proc_stats.h"

namespace tavrel::bench {

std::optional<std::uint64_t> RunNanosecondsFromSchedstat(std::string_view text)
{
    std::uint64_t nanoseconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), nanoseconds);
    if (error != std::errc{} || (end != text.data() + text.size() && *end != ' ' && *end != '\n')) {
        return std::nullopt;
    }
    return nanoseconds;
}

ThreadRunTimes RunTimesOf(pid_t process)
{
    ThreadRunTimes times;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(process) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        const std::string text = testing::ReadProcText((task.path() / "schedstat").string());
        if (const auto nanoseconds = RunNanosecondsFromSchedstat(text)) {
            times[static_cast<pid_t>(std::stol(task.path().filename().string()))] = *nanoseconds;
        }
    }
    return times;
}

ThreadCpu CpuBetween(const ThreadRunTimes& before, const ThreadRunTimes& after)
{
    ThreadCpu cpu;
    for (const auto& [thread, nanoseconds] : after) {
        const auto earlier = before.find(thread);
        const std::uint64_t ran = nanoseconds - (earlier == before.end() ? 0 : earlier->second);
        const double seconds = static_cast<double>(ran) / 1e9;
        cpu.allSeconds += seconds;
        if (seconds > cpu.busiestSeconds) {
            cpu.busiest = thread;
            cpu.busiestSeconds = seconds;
        }
    }
    return cpu;
}

}  // namespace tavrel::bench
