// The consumers of the outputs, all read by one thread with poll: virtual
// ports opened through their links as a program opens a serial port (raw,
// non-blocking), or TCP clients of a relay's server on the loopback address.
// Every byte read is handed on with the time poll returned. An output that
// goes away (hang-up, end of stream) is closed and may be opened again.
#pragma once

#include <chrono>
#include <cstdint>
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

    // Opens one output: a descriptor, or -1 while it cannot be opened yet.
    using Opener = std::function<int()>;

    explicit OutputReaders(const std::vector<std::filesystem::path>& links);
    explicit OutputReaders(std::vector<Opener> openers);

    std::size_t size() const { return openers_.size(); }
    bool IsOpen(std::size_t output) const { return fds_[output].valid(); }
    // Opens each output that is not open and can be opened now (its link
    // leads to a port, its server accepts); returns the ones opened now.
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

    std::vector<Opener> openers_;
    std::vector<platform::host::UniqueFd> fds_;
    std::vector<bool> paused_;
    std::vector<unsigned char> buffer_;
};

// The virtual ports behind `links`, each opened as a program opens a serial port.
std::vector<OutputReaders::Opener> PortOpeners(const std::vector<std::filesystem::path>& links);

// `clients` connections to 127.0.0.1:port, in order; the last `stalled` of
// them with a receive buffer of `stalledReceiveBuffer` bytes, for a client
// that is not going to read.
std::vector<OutputReaders::Opener> LoopbackClients(std::uint16_t port, std::size_t clients, std::size_t stalled = 0,
                                                    int stalledReceiveBuffer = 0);

}  // namespace tavrel::bench
