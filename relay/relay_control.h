// The one record through which the user-interface thread and the relay worker
// meet, and the start and stop handshakes that the user interface drives.
#pragma once

#include <atomic>

#include "platform/types.h"

struct RelayControlRecord {
    HANDLE stopAckEvent = nullptr;   // exists only during a stop
    HANDLE stopEvent = nullptr;      // the current run's stop event
    HANDLE startedEvent = nullptr;   // exists only during a start
    HANDLE workerThread = nullptr;
    UINT_PTR keepAwakeTimer = 0;
    // Written by the worker and read by the user-interface thread after a wait
    // or at the next button press, so it is atomic.
    std::atomic<BYTE> running{0};
};

extern RelayControlRecord RelayControl;

// Starts a run with the choices in AppSettings and SplitOutputs; returns when
// the worker has reported how its start-up went. Nothing when no output is chosen.
void StartRelay(HWND dialog);
// Ends the current run; returns when every port is closed and every virtual
// port deactivated, or the worker has ended.
void StopRelay(HWND dialog);
// Enables or disables the seven setting controls of the main window.
void EnableControls(HWND dialog, bool enable);
void KeepAwakeTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
// Before the program ends: stops a run that still relays, and releases what a
// run that ended by itself still holds.
void EndRelayForExit(HWND dialog);
