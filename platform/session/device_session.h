// What the processes of one device share, so that windows and named objects
// can be found and reached across processes. A device is its device root:
// processes booted with the same root share one device. The shared state lives
// in the run/ folder under the device root; a process that ends, even by
// SIGKILL, drops out of it by itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform::session {

// A window handle carries its process id in the upper 32 bits and a number
// unique within the process in the lower ones, so handles of different
// processes never collide.
inline HWND MakeWindowHandle(std::uint32_t process, std::uint32_t local)
{
    return reinterpret_cast<HWND>((static_cast<ULONG_PTR>(process) << 32) | local);
}
inline std::uint32_t ProcessOfWindow(HWND window)
{
    return static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(window) >> 32);
}

struct PublishedWindow {
    HWND handle;
    std::u16string title;
    std::uint64_t order;   // creation stamp on the system's monotonic clock, in ns; larger is newer
};

// Replaces what this process shows the others: its top-level windows.
void PublishWindows(const std::vector<PublishedWindow>& windows);

// The top-level windows that the other live processes of this device
// published, newest first; empty when no device is up.
std::vector<PublishedWindow> OtherProcessesWindows();

// Delivers a posted message to a window of another process of this device.
// Never blocks: false when that process is gone, does not receive, or its
// queue is full.
bool PostToOtherProcess(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Starts taking posts from the other processes of the device that is up
// (once; later calls replace the function). `deliver` runs on a receiving
// thread of this process. False when no device is up or the receiver could
// not start.
bool ReceivePostsFromOtherProcesses(std::function<void(HWND, UINT, WPARAM, LPARAM)> deliver);

// Ends this process's part in the device: stops receiving (no `deliver` runs
// after it returns; not to be called from `deliver` itself), withdraws its
// windows. Posts to this process fail from then on.
void LeaveDeviceSession();

}  // namespace platform::session
