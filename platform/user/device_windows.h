// This process's windows among the processes of its device, for boot and
// shutdown: the others' posts land in this process's queues, and its
// top-level windows are shown to them.
#pragma once

namespace platform::user {

// Starts taking the other processes' posts and shows them this process's
// windows. False when the posts cannot be taken (no device is up, or the
// receiver could not start).
bool JoinDeviceWindows();
// Stops taking posts and withdraws the windows; posts to this process fail
// from then on.
void LeaveDeviceWindows();

}  // namespace platform::user
