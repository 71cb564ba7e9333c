#include "bench/socket_watch.h"

#include <filesystem>

namespace tavrel::bench {

std::size_t SocketCount(const std::vector<pid_t>& processes)
{
    std::size_t sockets = 0;
    for (const pid_t process : processes) {
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator("/proc/" + std::to_string(process) + "/fd", error)) {
            std::error_code gone;   // a descriptor closed while the folder is read
            if (std::filesystem::read_symlink(entry.path(), gone).native().starts_with("socket:")) {
                ++sockets;
            }
        }
    }
    return sockets;
}

SocketWatch::SocketWatch(std::vector<pid_t> processes, std::chrono::milliseconds interval)
    : processes_(std::move(processes)),
      initial_(SocketCount(processes_)),
      sampler_([this, interval](const std::stop_token& stop) { Watch(stop, interval); })
{
}

void SocketWatch::Watch(const std::stop_token& stop, std::chrono::milliseconds interval)
{
    std::size_t last = initial_;
    while (!stop.stop_requested()) {
        std::this_thread::sleep_for(interval);
        const std::size_t now = SocketCount(processes_);
        const Clock::time_point seen = Clock::now();
        const std::lock_guard lock(mutex_);
        for (std::size_t gone = now; gone < last; ++gone) {
            closed_.push_back(seen);
        }
        last = now;
    }
}

std::vector<double> SocketWatch::ClosedAfter(Clock::time_point start) const
{
    const std::lock_guard lock(mutex_);
    std::vector<double> seconds;
    for (const Clock::time_point moment : closed_) {
        seconds.push_back(Seconds(moment - start));
    }
    return seconds;
}

}  // namespace tavrel::bench
