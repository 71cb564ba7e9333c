#include "support/message_box_recorder.h"

namespace tavrel::testing {

MessageBoxRecorder::MessageBoxRecorder(Mode mode) : mode_(mode)
{
    platform::SetMessageBoxAnswerer([this](const platform::MessageBoxRequest& request) { return Show(request); });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    {
        std::lock_guard guard(lock_);
        closing_ = true;
    }
    changed_.notify_all();
    platform::SetMessageBoxAnswerer(nullptr);
    // A box still up belongs to a thread that is in Show(); let it leave first.
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return showing_ == 0; });
}

int MessageBoxRecorder::Show(const platform::MessageBoxRequest& request)
{
    std::unique_lock guard(lock_);
    boxes_.push_back(request);
    changed_.notify_all();
    if (mode_ == Mode::AnswerAtOnce || closing_) {
        return IDOK;
    }
    ++showing_;
    changed_.wait(guard, [this] { return !answers_.empty() || closing_; });
    int answer = IDOK;
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.erase(answers_.begin());
    }
    --showing_;
    changed_.notify_all();
    return answer;
}

std::vector<platform::MessageBoxRequest> MessageBoxRecorder::Boxes() const
{
    std::lock_guard guard(lock_);
    return boxes_;
}

std::optional<platform::MessageBoxRequest> MessageBoxRecorder::WaitForBox(std::size_t count,
                                                                          std::chrono::milliseconds timeout)
{
    std::unique_lock guard(lock_);
    if (!changed_.wait_for(guard, timeout, [&] { return boxes_.size() >= count; })) {
        return std::nullopt;
    }
    return boxes_[count - 1];
}

bool MessageBoxRecorder::IsShowing() const
{
    std::lock_guard guard(lock_);
    return showing_ > 0;
}

void MessageBoxRecorder::Answer(int button)
{
    {
        std::lock_guard guard(lock_);
        answers_.push_back(button);
    }
    changed_.notify_all();
}

}  // namespace tavrel::testing
