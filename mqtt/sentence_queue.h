// The sentences that wait to be handed to the broker, bounded in bytes. A
// broker that is slow or away never makes the relay wait and never makes the
// queue grow without end: when a sentence does not fit, the oldest go first,
// and are counted.
//
// Not thread-safe: the publisher's thread alone uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace tavrel::mqtt {

struct Sentence {
    std::string topic;
    std::string payload;   // the sentence without its line end
    bool retain = false;

    std::size_t bytes() const { return topic.size() + payload.size(); }
};

class SentenceQueue {
public:
    explicit SentenceQueue(std::size_t boundBytes) : bound_(boundBytes) {}

    // Queues `sentence`, dropping the oldest until it fits; a sentence
    // larger than the whole bound is dropped itself.
    void Push(Sentence sentence);

    bool empty() const { return sentences_.empty(); }
    // The oldest sentence; only when not empty.
    const Sentence& front() const { return sentences_.front(); }
    void pop();

    std::size_t queuedBytes() const { return queued_; }
    std::uint64_t dropped() const { return dropped_; }

private:
    const std::size_t bound_;
    std::deque<Sentence> sentences_;
    std::size_t queued_ = 0;
    std::uint64_t dropped_ = 0;
};

}  // namespace tavrel::mqtt
