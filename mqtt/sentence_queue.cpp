#include "mqtt/sentence_queue.h"

#include <utility>

namespace tavrel::mqtt {

void SentenceQueue::Push(Sentence sentence)
{
    const std::size_t size = sentence.bytes();
    if (size > bound_) {
        ++dropped_;
        return;
    }
    while (queued_ + size > bound_) {
        pop();
        ++dropped_;
    }
    sentences_.push_back(std::move(sentence));
    queued_ += size;
}

void SentenceQueue::pop()
{
    queued_ -= sentences_.front().bytes();
    sentences_.pop_front();
}

}  // namespace tavrel::mqtt
