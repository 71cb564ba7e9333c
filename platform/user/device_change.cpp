#include "user/device_change.h"

#include <mutex>
#include <vector>

#include "platform/user.h"
#include "user/window_table.h"

namespace platform::user {

void TellWindowsDevicesChanged()
{
    std::vector<HWND> windows;
    {
        std::lock_guard guard(TableLock());
        windows = TopLevelWindowsLocked();
    }
    // Posted with the table unlocked: posting takes the lock itself.
    for (HWND window : windows) {
        PostMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    }
}

}  // namespace platform::user
