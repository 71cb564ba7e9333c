// Answers the platform's message boxes for a test and records each one. In
// Hold mode a box stays up until the test presses its button, so the test can
// look at what happens (and does not happen) while a user reads it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/message_box.h"

namespace tavrel::testing {

class MessageBoxRecorder {
public:
    enum class Mode { AnswerAtOnce, Hold };

    explicit MessageBoxRecorder(Mode mode = Mode::AnswerAtOnce);
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    std::vector<platform::MessageBoxRequest> Boxes() const;
    // Waits until the count-th box (1 = the first) has been shown.
    std::optional<platform::MessageBoxRequest> WaitForBox(std::size_t count = 1,
                                                          std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool IsShowing() const;
    // Presses `button` on the box that is showing.
    void Answer(int button = IDOK);

private:
    int Show(const platform::MessageBoxRequest& request);

    const Mode mode_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<platform::MessageBoxRequest> boxes_;
    int showing_ = 0;
    std::vector<int> answers_;
    bool closing_ = false;
};

}  // namespace tavrel::testing
