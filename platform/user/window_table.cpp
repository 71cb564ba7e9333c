#include "user/window_table.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <unistd.h>

#include "kernel/never_destroyed.h"
#include "platform/display.h"
#include "platform/quotas.h"
#include "session/device_session.h"

namespace platform::user {
namespace {

struct Table {
    std::map<HWND, Window> windows;
    std::uint32_t next = 0;
    HWND focus = nullptr;
    HWND foreground = nullptr;
};

std::atomic<std::size_t> windowQuota{kDefaultWindowQuota};

Table& TheTable()
{
    static NeverDestroyed<Table> table;
    return table.get();
}

std::uint64_t Now()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

}  // namespace

std::mutex& TableLock()
{
    static NeverDestroyed<std::mutex> lock;
    return lock.get();
}

Window* FindLocked(HWND window)
{
    Table& table = TheTable();
    const auto found = table.windows.find(window);
    return found == table.windows.end() ? nullptr : &found->second;
}

bool IsLocalWindow(HWND window)
{
    std::lock_guard guard(TableLock());
    return FindLocked(window) != nullptr;
}

HWND AddWindow(Window window)
{
    HWND handle = nullptr;
    {
        std::lock_guard guard(TableLock());
        Table& table = TheTable();
        if (table.windows.size() >= windowQuota.load()) {
            return nullptr;
        }
        // Handles are multiples of four within the process, never reused.
        handle = session::MakeWindowHandle(static_cast<std::uint32_t>(::getpid()), (++table.next) * 4);
        window.handle = handle;
        window.order = Now();
        if (Window* parent = FindLocked(window.parent)) {
            parent->children.push_back(handle);
        }
        table.windows.emplace(handle, std::move(window));
    }
    NotifyChanged(handle);
    return handle;
}

void RemoveWindow(HWND window)
{
    {
        std::lock_guard guard(TableLock());
        Table& table = TheTable();
        const auto found = table.windows.find(window);
        if (found == table.windows.end()) {
            return;
        }
        if (Window* parent = FindLocked(found->second.parent)) {
            std::erase(parent->children, window);
        }
        table.windows.erase(found);
        if (table.focus == window) {
            table.focus = nullptr;
        }
        if (table.foreground == window) {
            table.foreground = nullptr;
        }
    }
    if (const auto display = CurrentDisplay()) {
        display->WindowDestroyed(window);
    }
}

bool ChangeWindow(HWND window, const std::function<void(Window&)>& change)
{
    {
        std::lock_guard guard(TableLock());
        Window* found = FindLocked(window);
        if (found == nullptr) {
            return false;
        }
        change(*found);
    }
    NotifyChanged(window);
    return true;
}

std::vector<HWND> TopLevelWindowsLocked()
{
    std::vector<const Window*> topLevel;
    for (const auto& [handle, window] : TheTable().windows) {
        if ((window.style & WS_CHILD) == 0) {
            topLevel.push_back(&window);
        }
    }
    std::sort(topLevel.begin(), topLevel.end(), [](const Window* a, const Window* b) { return a->order > b->order; });
    std::vector<HWND> handles;
    for (const Window* window : topLevel) {
        handles.push_back(window->handle);
    }
    return handles;
}

HWND FocusLocked()
{
    return TheTable().focus;
}

void SetFocusLocked(HWND window)
{
    TheTable().focus = window;
}

HWND ForegroundLocked()
{
    return TheTable().foreground;
}

void SetForegroundLocked(HWND window)
{
    TheTable().foreground = window;
}

void NotifyChanged(HWND window)
{
    if (const auto display = CurrentDisplay()) {
        display->WindowChanged(window);
    }
}

void PublishTopLevelWindows()
{
    // Taken and published under one lock, so that the board gets the
    // snapshots in the order they were taken: an older one published after a
    // newer one would bring back a window that has gone. The table's own lock
    // is not held while the file is written.
    static NeverDestroyed<std::mutex> publishing;
    std::lock_guard inOrder(publishing.get());
    std::vector<session::PublishedWindow> published;
    {
        std::lock_guard guard(TableLock());
        for (HWND handle : TopLevelWindowsLocked()) {
            const Window* window = FindLocked(handle);
            published.push_back({handle, window->text, window->order});
        }
    }
    session::PublishWindows(published);
}

}  // namespace platform::user

void platform::SetWindowQuota(std::size_t windows)
{
    platform::user::windowQuota = windows;
}

std::size_t platform::WindowCount()
{
    std::lock_guard guard(platform::user::TableLock());
    return platform::user::TheTable().windows.size();
}
