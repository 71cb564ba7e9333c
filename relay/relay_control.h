// The one record through which the user-interface thread and the relay worker
// meet: the events of the start and stop handshakes, the worker's thread, the
// keep-awake timer, and whether relaying is up.
#pragma once

#include <atomic>

#include "platform/types.h"

struct RelayControlRecord {
    HANDLE stopAckEvent = nullptr;   // exists only during a stop
    HANDLE stopEvent = nullptr;      // the current run's stop event
    HANDLE startedEvent = nullptr;   // exists only during a start
    HANDLE workerThread = nullptr;
    UINT keepAwakeTimer = 0;
    // Written by the worker and read by the user-interface thread after a wait
    // or at the next button press, so it is atomic.
    std::atomic<BYTE> running{0};
};

extern RelayControlRecord RelayControl;
