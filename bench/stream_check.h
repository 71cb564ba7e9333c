// Accounts for every byte that one output received against what the input
// was given, in order: how many arrived, how many never did, and where the
// first byte arrived that differs from the byte sent at its place in the
// stream (a dropped, repeated or garbled stretch shifts or changes what
// follows it, so only the first difference says something).
#pragma once

#include <cstddef>
#include <optional>
#include <span>

namespace tavrel::bench {

class StreamCheck {
public:
    // `sent` is the whole stream that the input may be given; the check keeps
    // a view of it, so it must outlive the check.
    explicit StreamCheck(std::span<const unsigned char> sent) : sent_(sent) {}

    void Received(std::span<const unsigned char> bytes);

    std::size_t received() const { return received_; }
    // The offset in the received stream of the first byte unequal to the
    // sent byte at that offset, or beyond the end of what was sent.
    std::optional<std::size_t> firstDifference() const { return firstDifference_; }
    // Of the first `accepted` bytes of the stream (those the input took), how
    // many have not arrived.
    std::size_t MissingOf(std::size_t accepted) const;
    // Every accepted byte arrived, in order, and nothing else did.
    bool Complete(std::size_t accepted) const { return received_ == accepted && !firstDifference_; }

private:
    std::span<const unsigned char> sent_;
    std::size_t received_ = 0;
    std::optional<std::size_t> firstDifference_;
};

}  // namespace tavrel::bench
