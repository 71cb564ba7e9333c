// Cuts the relayed stream, which comes in pieces of any size, into lines
// ending in "\n" or "\r\n". A line's start waits for its end across pieces,
// up to a bound: a longer line is no sentence, and is skipped whole.
//
// Not thread-safe: the publisher's thread alone uses it.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace tavrel::mqtt {

class SentenceLines {
public:
    static constexpr std::size_t kLongestLine = 4096;

    // Calls `line` with each line that `bytes` completes, without its line end.
    void Feed(std::span<const unsigned char> bytes, const std::function<void(std::string_view)>& line);
    // Bytes of the stream were lost here: the line under way is no whole line.
    void SkipToNextLine();

private:
    std::string partial_;
    bool skipping_ = false;   // until the next line end
};

}  // namespace tavrel::mqtt
