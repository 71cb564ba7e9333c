#include "bench/stream_check.h"

namespace tavrel::bench {

void StreamCheck::Received(std::span<const unsigned char> bytes)
{
    for (const unsigned char byte : bytes) {
        if (!firstDifference_ && (received_ >= sent_.size() || sent_[received_] != byte)) {
            firstDifference_ = received_;
        }
        ++received_;
    }
}

std::size_t StreamCheck::MissingOf(std::size_t accepted) const
{
    return received_ < accepted ? accepted - received_ : 0;
}

}  // namespace tavrel::bench
