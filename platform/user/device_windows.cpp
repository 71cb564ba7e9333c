#include "user/device_windows.h"

#include "platform/user.h"
#include "session/device_session.h"
#include "user/window_table.h"

namespace platform::user {

bool JoinDeviceWindows()
{
    const bool receiving =
        session::ReceivePostsFromOtherProcesses([](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
            PostMessageW(window, message, wParam, lParam);
        });
    PublishTopLevelWindows();
    return receiving;
}

void LeaveDeviceWindows()
{
    session::LeaveDeviceSession();
}

}  // namespace platform::user
