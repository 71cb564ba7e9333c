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

// The thread of a run: the worker, then a word to the main window that the
// run is over. A worker that fails while relaying signals no event, so
// without that word the window would go on looking as if it relayed. The
// worker itself never touches a window.
DWORD RunWorker(LPVOID dialog)
{
    const DWORD exitCode = ThreadGPSProxy(nullptr);
    PostMessageW(static_cast<HWND>(dialog), RelayEndedMessage, 0, 0);
    return exitCode;
}

// Releases what a run that is over still holds: its timer, its stop event and
// its worker's thread handle. Its worker has acknowledged a stop, reported a
// failed start or cleared `running` as the last act of a failure, so it is a
// few steps from its end; that end is waited for, so that no run is released
// while its thread still runs.
void ReleaseEndedRun()
{
    RelayControl.keepAwakeTimer.Reset();
    if (RelayControl.workerThread.get() != nullptr) {
        WaitForSingleObject(RelayControl.workerThread.get(), INFINITE);
    }
    RelayControl.stopEvent.Reset();
    RelayControl.workerThread.Reset();
}

void ShowIdle(HWND dialog)
{
    SetDlgItemTextW(dialog, IDC_START_STOP, u"START SPLITTER");
    EnableControls(dialog, true);
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
    RelayControl.stopAckEvent.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    SetEvent(RelayControl.stopEvent.get());
    RelayControl.running = 0;
    const HANDLE ends[2] = {RelayControl.workerThread.get(), RelayControl.stopAckEvent.get()};
    WaitForMultipleObjects(RelayControl.stopAckEvent.get() != nullptr ? 2 : 1, ends, FALSE, INFINITE);
    RelayControl.stopAckEvent.Reset();
}

// Creates the events and the worker; false, with nothing left over, when one
// of them cannot be made.
bool LaunchWorker(HWND dialog)
{
    RelayControl.window = dialog;
    RelayControl.stopEvent.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    RelayControl.startedEvent.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (RelayControl.stopEvent.get() != nullptr && RelayControl.startedEvent.get() != nullptr) {
        RelayControl.workerThread.Reset(CreateThread(nullptr, 0, RunWorker, dialog, 0, nullptr));
        if (RelayControl.workerThread.get() != nullptr) {
            return true;
        }
    }
    RelayControl.startedEvent.Reset();
    RelayControl.stopEvent.Reset();
    return false;
}

// Waits for the worker's report; a worker that ended without one counts as failed.
void WaitForStartUp()
{
    const HANDLE ends[2] = {RelayControl.startedEvent.get(), RelayControl.workerThread.get()};
    WaitForMultipleObjects(2, ends, FALSE, INFINITE);
    RelayControl.startedEvent.Reset();
}

void ShowRelaying(HWND dialog)
{
    RelayControl.keepAwakeTimer.Reset(SetTimer(nullptr, 0, kKeepAwakeMilliseconds, KeepAwakeTimerProc));
    if (RelayControl.keepAwakeTimer.get() == 0) {
        StopWorker();
        ReleaseEndedRun();
        ShowStartFailure();
        EnableControls(dialog, true);
        return;
    }
    SetDlgItemTextW(dialog, IDC_START_STOP, u"STOP SPLITTER");
}

}  // namespace

void NotifyRelayHealthChanged(WPARAM what)
{
    if (const HWND window = RelayControl.window.load(); window != nullptr) {
        PostMessageW(window, RelayHealthChangedMessage, what, 0);
    }
}

void StartRelay(HWND dialog)
{
    if (SplitOutputs.empty()) {
        return;
    }
    ReleaseEndedRun();
    HWND button = GetDlgItem(dialog, IDC_START_STOP);
    EnableWindow(button, FALSE);
    EnableControls(dialog, false);
    if (!LaunchWorker(dialog)) {
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
    RelayControl.keepAwakeTimer.Reset();
    StopWorker();
    ReleaseEndedRun();
    ShowIdle(dialog);
}

void RelayEnded(HWND dialog)
{
    // Outside a start or a stop, which the user-interface thread waits
    // through, a run is held with `running` clear only once its worker has
    // failed while relaying.
    if (RelayControl.running == 1 || RelayControl.workerThread.get() == nullptr) {
        return;
    }
    ReleaseEndedRun();
    ShowIdle(dialog);
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
