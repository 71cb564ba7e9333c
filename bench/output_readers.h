// The consumers of the output ports: each opened through its link as a
// program opens a serial port (raw, non-blocking), all read by one thread
// with poll. Every byte read is handed on with the time poll returned. An
// output whose port goes away (hang-up) is closed and may be opened again.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

#include "bench/clock.h"
#include "platform/host/unique_fd.h"

namespace tavrel::bench {

class OutputReaders {
public:
    // Called with the output's index, the bytes read and when they were seen.
    using Handler = std::function<void(std::size_t, std::span<const unsigned char>, Clock::time_point)>;

    explicit OutputReaders(std::vector<std::filesystem::path> links);

    std::size_t size() const { return links_.size(); }
    bool IsOpen(std::size_t output) const { return fds_[output].valid(); }
    // Opens each output that is not open and whose link leads to a port;
    // returns the ones opened now.
    std::vector<std::size_t> OpenMissing();
    // A paused output stays open but is not read, as by a program that hangs.
    void SetPaused(std::size_t output, bool paused) { paused_[output] = paused; }
    // Waits at most `timeout` for any open, unpaused output to have bytes and
    // reads each that has; returns how many outputs had bytes.
    std::size_t Read(std::chrono::milliseconds timeout, const Handler& handler);
    // Reads and drops until no output has had a byte for `quiet`; returns how many were dropped.
    std::size_t Drain(std::chrono::milliseconds quiet);

private:
    void ReadOne(std::size_t output, Clock::time_point seen, const Handler& handler);

    std::vector<std::filesystem::path> links_;
    std::vector<platform::host::UniqueFd> fds_;
    std::vector<bool> paused_;
    std::vector<unsigned char> buffer_;
};

}  // namespace tavrel::bench
