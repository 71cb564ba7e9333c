// The device's board of windows: each process that shows windows keeps an
// exclusive flock on run/windows/<pid>.lock for as long as it takes part, and
// its list of top-level windows in run/windows/<pid>.list, replaced as a
// whole. A list whose lock nobody holds belongs to a process that has ended
// (perhaps by SIGKILL); readers ignore it and clear it away.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/device_session.h"
#include "session/run_files.h"

namespace platform::session {

// One line per window: handle, order and title (hex of its UTF-16 units, so a
// title of any characters, newlines included, stays on its line).
std::string EncodeWindowList(const std::vector<PublishedWindow>& windows);
// Nothing when the text is not a window list.
std::optional<std::vector<PublishedWindow>> DecodeWindowList(std::string_view text);

// This process's place on the board of one device.
class WindowBoard {
public:
    // Takes the process's lock; nothing when the run folder cannot be used.
    static std::optional<WindowBoard> Join(const std::filesystem::path& deviceRoot);
    // Withdraws the list and gives up the lock.
    ~WindowBoard();
    WindowBoard(WindowBoard&&) = default;
    WindowBoard& operator=(WindowBoard&&) = delete;
    WindowBoard(const WindowBoard&) = delete;
    WindowBoard& operator=(const WindowBoard&) = delete;

    const std::filesystem::path& deviceRoot() const { return deviceRoot_; }
    bool Publish(const std::vector<PublishedWindow>& windows) const;

private:
    WindowBoard(std::filesystem::path deviceRoot, std::filesystem::path lockFile, std::filesystem::path listFile,
                UniqueFd lock);

    std::filesystem::path deviceRoot_;
    std::filesystem::path lockFile_;
    std::filesystem::path listFile_;
    UniqueFd lock_;
};

// The windows of the live processes of the device other than `self`, newest first.
std::vector<PublishedWindow> ReadOtherProcessesWindows(const std::filesystem::path& deviceRoot, pid_t self);

}  // namespace platform::session
