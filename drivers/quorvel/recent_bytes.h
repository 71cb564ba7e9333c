// The newest bytes of a stream, up to a fixed amount.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace quorvel {

class RecentBytes {
public:
    explicit RecentBytes(std::size_t capacity);

    void Append(std::span<const unsigned char> bytes);
    void Clear() { bytes_.clear(); }
    bool empty() const { return bytes_.empty(); }
    // Up to `capacity` bytes, the newest last.
    std::span<const unsigned char> Newest() const;

private:
    std::size_t capacity_;
    // Grows to twice the capacity before the oldest half is dropped, so that
    // appending costs no more than copying each byte about twice.
    std::vector<unsigned char> bytes_;
};

}  // namespace quorvel
