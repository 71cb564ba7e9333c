#include "recent_bytes.h"

#include <algorithm>

namespace quorvel {

RecentBytes::RecentBytes(std::size_t capacity) : capacity_(capacity)
{
    bytes_.reserve(2 * capacity_);
}

void RecentBytes::Append(std::span<const unsigned char> bytes)
{
    if (bytes.size() >= capacity_) {
        bytes_.assign(bytes.end() - static_cast<std::ptrdiff_t>(capacity_), bytes.end());
        return;
    }
    if (bytes_.size() + bytes.size() > 2 * capacity_) {
        const std::size_t keep = capacity_ - bytes.size();
        bytes_.erase(bytes_.begin(), bytes_.end() - static_cast<std::ptrdiff_t>(keep));
    }
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

std::span<const unsigned char> RecentBytes::Newest() const
{
    const std::size_t count = std::min(bytes_.size(), capacity_);
    return std::span<const unsigned char>(bytes_).last(count);
}

}  // namespace quorvel
