// Answers the message boxes that show while it lives, as a person would, and
// records each one. In Hold mode a box stays up until the test presses its
// button, so the test can look at what happens (and does not happen) while a
// person reads it. Boxes still up at the end are answered with OK.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/user_driver.h"

namespace tavrel::testing {

class MessageBoxRecorder {
public:
    enum class Mode { AnswerAtOnce, Hold };
    using Box = UserDriver::MessageBox;

    explicit MessageBoxRecorder(Mode mode = Mode::AnswerAtOnce);
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    std::vector<Box> Boxes() const;
    // Waits until the count-th box (1 = the first) has shown.
    std::optional<Box> WaitForBox(std::size_t count = 1, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool IsShowing() const;
    // Presses `button` on the box that is showing (in Hold mode).
    void Answer(int button = 1);

    UserDriver& driver() { return driver_; }

private:
    void Watch();

    const Mode mode_;
    UserDriver driver_;
    mutable std::mutex lock_;
    std::vector<Box> boxes_;
    std::set<HWND> seen_;
    std::atomic<bool> stop_{false};
    std::thread watcher_;
};

}  // namespace tavrel::testing
