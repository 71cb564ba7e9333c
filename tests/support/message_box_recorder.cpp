#include "support/message_box_recorder.h"

namespace tavrel::testing {

MessageBoxRecorder::MessageBoxRecorder(Mode mode) : mode_(mode), watcher_([this] { Watch(); }) {}

MessageBoxRecorder::~MessageBoxRecorder()
{
    stop_ = true;
    watcher_.join();
    for (const Box& box : driver_.MessageBoxes()) {
        driver_.Answer(box, 1);
    }
    // Let the threads that showed them leave their boxes before the display goes.
    driver_.WaitUntil([this] { return driver_.MessageBoxes().empty(); }, std::chrono::seconds(10));
}

void MessageBoxRecorder::Watch()
{
    while (!stop_) {
        std::vector<Box> fresh;
        driver_.WaitUntil([&] {
            for (const Box& box : driver_.MessageBoxes()) {
                std::lock_guard guard(lock_);
                if (seen_.insert(box.window).second) {
                    fresh.push_back(box);
                }
            }
            return !fresh.empty() || stop_;
        }, std::chrono::milliseconds(200));
        for (const Box& box : fresh) {
            {
                std::lock_guard guard(lock_);
                boxes_.push_back(box);
            }
            if (mode_ == Mode::AnswerAtOnce) {
                driver_.Answer(box, 1);
            }
        }
    }
}

std::vector<MessageBoxRecorder::Box> MessageBoxRecorder::Boxes() const
{
    std::lock_guard guard(lock_);
    return boxes_;
}

std::optional<MessageBoxRecorder::Box> MessageBoxRecorder::WaitForBox(std::size_t count,
                                                                       std::chrono::milliseconds timeout)
{
    std::optional<Box> found;
    driver_.WaitUntil([&] {
        std::lock_guard guard(lock_);
        if (boxes_.size() >= count) {
            found = boxes_[count - 1];
        }
        return found.has_value();
    }, timeout);
    return found;
}

bool MessageBoxRecorder::IsShowing() const
{
    return !driver_.MessageBoxes().empty();
}

void MessageBoxRecorder::Answer(int button)
{
    const auto boxes = driver_.MessageBoxes();
    if (!boxes.empty()) {
        driver_.Answer(boxes.front(), button);
    }
}

}  // namespace tavrel::testing
