// Runs the relay worker through the start and stop handshakes of the relay
// control, with generous time-outs instead of infinite waits, for tests.
#pragma once

#include <chrono>

#include "platform/types.h"

namespace tavrel::testing {

class RelayRun {
public:
    RelayRun();
    ~RelayRun();
    RelayRun(const RelayRun&) = delete;
    RelayRun& operator=(const RelayRun&) = delete;

    // Creates the worker; true when it reported the outcome of its start-up in time.
    bool Start(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // The stop handshake; true when the worker acknowledged in time.
    bool Stop(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Creates the stop-acknowledge event without signalling the stop, as a stop does first.
    void PrepareStop();
    void SignalStop();
    bool WaitAcknowledged(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool WaitEnded(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    DWORD ExitCode() const;
    bool running() const;
    // Whether the started event is signalled now (and takes the signal).
    bool StartedSignalled() const;

private:
    HANDLE thread_ = nullptr;
};

}  // namespace tavrel::testing
