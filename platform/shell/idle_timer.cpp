// SystemIdleTimerReset: on the device it keeps the handheld from suspending.
// The host's power management belongs to its user, not to this program, so
// here it only counts the resets (platform/idle_timer.h), which costs nothing
// however often it is called and leaves the last error alone.
#include <atomic>

#include "platform/idle_timer.h"
#include "platform/shell.h"

namespace {

std::atomic<std::size_t> idleTimerResets{0};

}  // namespace

void SystemIdleTimerReset()
{
    idleTimerResets.fetch_add(1, std::memory_order_relaxed);
}

std::size_t platform::SystemIdleTimerResets()
{
    return idleTimerResets.load(std::memory_order_relaxed);
}
