// What waits to be written to one network client: whole chunks, as the
// relay read them, bounded in bytes. A client that falls behind loses its
// oldest whole chunks, never a piece of one, and never makes the relay wait.
//
// Not thread-safe: the server guards each queue with its own lock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace tavrel::network {

// One chunk, shared by every client's queue that holds it.
using Chunk = std::shared_ptr<const std::vector<unsigned char>>;

class ClientQueue {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kDefaultBound = 64 * 1024;

    explicit ClientQueue(std::size_t boundBytes = kDefaultBound) : bound_(boundBytes) {}

    // Queues `chunk`. When it does not fit, the oldest whole chunks are
    // dropped until it does; the chunk being written is finished first, so
    // a chunk that does not fit beside its rest is dropped itself. Every drop counts
    // its bytes and, the first time, marks the queue full since `now`.
    void Push(const Chunk& chunk, Clock::time_point now);

    // The bytes to write next: the unwritten rest of the oldest chunk, empty
    // when nothing waits. That chunk is then being written: it stays, and
    // stays valid, until Sent() has taken all of it.
    std::span<const unsigned char> Next();
    // `count` bytes of what Next() gave were written. A queue written empty
    // is no longer full.
    void Sent(std::size_t count);

    bool empty() const { return chunks_.empty(); }
    std::size_t queuedBytes() const { return queued_; }
    std::uint64_t bytesSent() const { return sent_; }
    std::uint64_t bytesDropped() const { return dropped_; }
    // Since when chunks have been dropped without the queue being emptied.
    std::optional<Clock::time_point> fullSince() const { return fullSince_; }

private:
    void Drop(std::size_t bytes, Clock::time_point now);

    const std::size_t bound_;
    std::deque<Chunk> chunks_;
    std::size_t written_ = 0;   // bytes of the oldest chunk already written
    bool writing_ = false;      // the oldest chunk was handed out by Next()
    std::size_t queued_ = 0;    // unwritten bytes in the queue
    std::uint64_t sent_ = 0;
    std::uint64_t dropped_ = 0;
    std::optional<Clock::time_point> fullSince_;
};

}  // namespace tavrel::network
