// The one record through which the user-interface thread and the relay worker
// meet, and the start and stop handshakes that the user interface drives.
#pragma once

#include <atomic>

#include "platform/types.h"
#include "platform/user.h"
#include "relay/owned_handles.h"

struct RelayControlRecord {
    OwnedHandle stopAckEvent;   // exists only during a stop
    OwnedHandle stopEvent;      // the current run's stop event
    OwnedHandle startedEvent;   // exists only during a start
    OwnedHandle workerThread;
    OwnedTimer keepAwakeTimer;
    // Written by the worker and read by the user-interface thread after a wait
    // or at the next button press, so it is atomic.
    std::atomic<BYTE> running{0};
    // The window that hears of the run (RelayEndedMessage, RelayHealthChangedMessage).
    std::atomic<HWND> window{nullptr};
};

extern RelayControlRecord RelayControl;

// Posted to the main window when a run's worker thread is about to end, for
// RelayEnded. Its parameters are not used.
inline constexpr UINT RelayEndedMessage = WM_APP + 1;

// Posted to the main window when what the relay does has changed in a way a
// person would want to see at once: a run started or ended, its input was
// lost or came back, a network output started or failed. WPARAM is
// kNetworkOutputFailed when a network output the settings ask for could not
// start (TakeRelayHealth().network says why), otherwise 0. The window
// refreshes the tray icon's tooltip; the relay never waits for it.
inline constexpr UINT RelayHealthChangedMessage = WM_APP + 2;
inline constexpr WPARAM kNetworkOutputFailed = 1;

// Posts RelayHealthChangedMessage to the window that hears of the run; never waits.
void NotifyRelayHealthChanged(WPARAM what = 0);

// Starts a run with the choices in AppSettings and SplitOutputs; returns when
// the worker has reported how its start-up went. Nothing when no output is chosen.
void StartRelay(HWND dialog);
// Ends the current run; returns when every port is closed and every virtual
// port deactivated, or the worker has ended.
void StopRelay(HWND dialog);
// On RelayEndedMessage: when the run ended by itself (its worker failed while
// relaying and has shown its message), releases what the run still holds and
// gives the window its idle look. Nothing for a run that is still up or was
// already released, so a late or repeated message does no harm.
void RelayEnded(HWND dialog);
// Enables or disables the seven setting controls of the main window.
void EnableControls(HWND dialog, bool enable);
void KeepAwakeTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
// Before the program ends: stops a run that still relays, and releases what a
// run that ended by itself still holds.
void EndRelayForExit(HWND dialog);
