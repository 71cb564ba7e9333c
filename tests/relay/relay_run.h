// Runs the relay worker through the start and stop handshakes of the relay
// control, with generous time-outs instead of infinite waits, for tests.
#pragma once

#include <chrono>
#include <vector>

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
    // Creates the worker without waiting for its report.
    void Launch();
    bool WaitStarted(std::chrono::milliseconds timeout = std::chrono::seconds(20));
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
    bool stopSignalled_ = false;
};

class PtyPair;

// The worker drops what arrives while it starts up. Sends a byte through the
// input until it has reached every reader, then empties the readers: from
// then on everything written to the input arrives. False when it never did.
bool WaitUntilRelaying(const PtyPair& input, const std::vector<int>& readers);

}  // namespace tavrel::testing
