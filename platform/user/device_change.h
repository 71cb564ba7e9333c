// Telling this process's windows that a device was added or removed, as the
// device does: each top-level window, shown or hidden, gets WM_DEVICECHANGE
// with DBT_DEVNODES_CHANGED posted to its thread's queue.
#pragma once

namespace platform::user {

// Safe from any thread; a window that goes meanwhile simply misses it.
void TellWindowsDevicesChanged();

}  // namespace platform::user
