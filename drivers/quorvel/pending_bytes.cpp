#include "pending_bytes.h"

#include <algorithm>

namespace quorvel {

PendingBytes::PendingBytes(std::size_t capacity) : capacity_(capacity)
{
    bytes_.reserve(2 * capacity_);
}

std::size_t PendingBytes::Append(std::span<const unsigned char> bytes)
{
    if (bytes.size() >= capacity_) {
        const std::size_t dropped = (bytes_.size() - start_) + (bytes.size() - capacity_);
        bytes_.assign(bytes.end() - static_cast<std::ptrdiff_t>(capacity_), bytes.end());
        start_ = 0;
        return dropped;
    }
    const std::size_t waiting = bytes_.size() - start_;
    const std::size_t excess = waiting + bytes.size() > capacity_ ? waiting + bytes.size() - capacity_ : 0;
    start_ += excess;
    if (start_ >= capacity_) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return excess;
}

std::span<const unsigned char> PendingBytes::Front() const
{
    return std::span<const unsigned char>(bytes_).subspan(start_);
}

void PendingBytes::Consume(std::size_t count)
{
    start_ += std::min(count, bytes_.size() - start_);
    if (empty()) {
        Clear();
    }
}

void PendingBytes::Clear()
{
    bytes_.clear();
    start_ = 0;
}

}  // namespace quorvel
