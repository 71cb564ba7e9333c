#include "relay/relay_control.h"

#include "platform/kernel.h"
#include "platform/shell.h"
#include "platform/user.h"
#include "relay/relay_worker.h"
#include "resources/resource_ids.h"
#include "state/port_lists.h"

RelayControlRecord RelayControl;

namespace {

constexpr UINT kKeepAwakeMilliseconds = 20000;
constexpr int kSettingControls[] = {IDC_BAUD, IDC_INPUT_PORT, IDC_FREE_OUTPUTS, IDC_ADD,
                                    IDC_DELETE, IDC_OUTPUT_LIST, IDC_EXIT};

void Release(HANDLE& handle)
{
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

// What a run that ended through a read failure left: its timer and handles.
void ReleaseEndedRun()
{
    if (RelayControl.keepAwakeTimer != 0) {
        KillTimer(nullptr, RelayControl.keepAwakeTimer);
        RelayControl.keepAwakeTimer = 0;
    }
    Release(RelayControl.stopEvent);
    Release(RelayControl.workerThread);
}

void ShowStartFailure()
{
    MessageBoxW(nullptr, u"Unable to start the splitter:\nthe system is out of resources", u"Tavrel",
                MB_OK | MB_ICONEXCLAMATION);
}

// Signals the stop and waits until the worker acknowledged it or ended; a
// worker that is failing acknowledges nothing but still ends.
void StopWorker()
{
    RelayControl.stopAckEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetEvent(RelayControl.stopEvent);
    RelayControl.running = 0;
    HANDLE ends[2] = {RelayControl.workerThread, RelayControl.stopAckEvent};
    WaitForMultipleObjects(RelayControl.stopAckEvent != nullptr ? 2 : 1, ends, FALSE, INFINITE);
    Release(RelayControl.stopAckEvent);
}

// Creates the events and the worker; false, with nothing left over, when one
// of them cannot be made.
bool LaunchWorker()
{
    RelayControl.stopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    RelayControl.startedEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (RelayControl.stopEvent != nullptr && RelayControl.startedEvent != nullptr) {
        RelayControl.workerThread = CreateThread(nullptr, 0, ThreadGPSProxy, nullptr, 0, nullptr);
        if (RelayControl.workerThread != nullptr) {
            return true;
        }
    }
    Release(RelayControl.startedEvent);
    Release(RelayControl.stopEvent);
    return false;
}

// Waits for the worker's report; a worker that ended without one counts as failed.
void WaitForStartUp()
{
    HANDLE ends[2] = {RelayControl.startedEvent, RelayControl.workerThread};
    WaitForMultipleObjects(2, ends, FALSE, INFINITE);
    Release(RelayControl.startedEvent);
}

void ShowRelaying(HWND dialog)
{
    RelayControl.keepAwakeTimer = SetTimer(nullptr, 0, kKeepAwakeMilliseconds, KeepAwakeTimerProc);
    if (RelayControl.keepAwakeTimer == 0) {
        StopWorker();
        ReleaseEndedRun();
        ShowStartFailure();
        EnableControls(dialog, true);
        return;
    }
    SetDlgItemTextW(dialog, IDC_START_STOP, u"STOP SPLITTER");
}

}  // namespace

void StartRelay(HWND dialog)
{
    if (SplitOutputs.empty()) {
        return;
    }
    ReleaseEndedRun();
    HWND button = GetDlgItem(dialog, IDC_START_STOP);
    EnableWindow(button, FALSE);
    EnableControls(dialog, false);
    if (!LaunchWorker()) {
        ShowStartFailure();
        EnableControls(dialog, true);
    } else {
        WaitForStartUp();
        if (RelayControl.running == 1) {
            ShowRelaying(dialog);
        } else {
            ReleaseEndedRun();
            EnableControls(dialog, true);
        }
    }
    EnableWindow(button, TRUE);
}

void StopRelay(HWND dialog)
{
    if (RelayControl.keepAwakeTimer != 0) {
        KillTimer(nullptr, RelayControl.keepAwakeTimer);
        RelayControl.keepAwakeTimer = 0;
    }
    StopWorker();
    Release(RelayControl.stopEvent);
    Release(RelayControl.workerThread);
    SetDlgItemTextW(dialog, IDC_START_STOP, u"START SPLITTER");
    EnableControls(dialog, true);
}

void EnableControls(HWND dialog, bool enable)
{
    for (int id : kSettingControls) {
        EnableWindow(GetDlgItem(dialog, id), enable ? TRUE : FALSE);
    }
}

void KeepAwakeTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    SystemIdleTimerReset();
}

void EndRelayForExit(HWND dialog)
{
    if (RelayControl.running == 1) {
        StopRelay(dialog);
    } else {
        ReleaseEndedRun();
    }
}
