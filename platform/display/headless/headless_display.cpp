// The headless display: a screen size and, for a test driver, a count of
// changes to wait on. Nothing is drawn.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/display.h"

namespace platform {

struct HeadlessDisplay::State {
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    int width;
    int height;
    bool personPresent;
    unsigned long long changes = 0;
};

HeadlessDisplay::HeadlessDisplay(int width, int height, bool personPresent)
    : state_(std::make_shared<State>())
{
    state_->width = width;
    state_->height = height;
    state_->personPresent = personPresent;
}

int HeadlessDisplay::ScreenWidth() const
{
    std::lock_guard guard(state_->lock);
    return state_->width;
}

int HeadlessDisplay::ScreenHeight() const
{
    std::lock_guard guard(state_->lock);
    return state_->height;
}

bool HeadlessDisplay::PersonPresent() const
{
    std::lock_guard guard(state_->lock);
    return state_->personPresent;
}

void HeadlessDisplay::WindowChanged(HWND)
{
    {
        std::lock_guard guard(state_->lock);
        ++state_->changes;
    }
    state_->changed.notify_all();
}

void HeadlessDisplay::WindowDestroyed(HWND window)
{
    WindowChanged(window);
}

void HeadlessDisplay::TrayChanged()
{
    WindowChanged(nullptr);
}

void HeadlessDisplay::SetScreenSize(int width, int height)
{
    std::lock_guard guard(state_->lock);
    state_->width = width;
    state_->height = height;
}

void HeadlessDisplay::SetPersonPresent(bool present)
{
    std::lock_guard guard(state_->lock);
    state_->personPresent = present;
}

unsigned long long HeadlessDisplay::Changes() const
{
    std::lock_guard guard(state_->lock);
    return state_->changes;
}

unsigned long long HeadlessDisplay::WaitForChange(unsigned long long seen, unsigned timeoutMilliseconds) const
{
    std::unique_lock guard(state_->lock);
    state_->changed.wait_for(guard, std::chrono::milliseconds(timeoutMilliseconds),
                             [&] { return state_->changes != seen; });
    return state_->changes;
}

}  // namespace platform
