// Bytes that wait for room in the pseudo-terminal, oldest first, up to a fixed
// amount: when more arrive than it holds, the oldest are dropped and the
// newest kept, as a serial line's receiver that falls behind loses the old.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace quorvel {

class PendingBytes {
public:
    explicit PendingBytes(std::size_t capacity);

    // Appends the bytes; returns how many bytes were dropped for them (the
    // oldest that waited, and the front of `bytes` itself when it alone is
    // larger than the capacity).
    std::size_t Append(std::span<const unsigned char> bytes);
    // Everything that waits, oldest first.
    std::span<const unsigned char> Front() const;
    // Forgets the oldest `count` bytes, which were written.
    void Consume(std::size_t count);
    void Clear();
    bool empty() const { return start_ == bytes_.size(); }
    std::size_t size() const { return bytes_.size() - start_; }

private:
    std::size_t capacity_;
    // Waiting bytes are bytes_[start_..]; the consumed front is cut off only
    // once it is as large as the capacity, so each byte is copied about twice.
    std::vector<unsigned char> bytes_;
    std::size_t start_ = 0;
};

}  // namespace quorvel
