#include "mqtt/sentence_lines.h"

#include <algorithm>

namespace tavrel::mqtt {

void SentenceLines::Feed(std::span<const unsigned char> bytes, const std::function<void(std::string_view)>& line)
{
    auto from = bytes.begin();
    while (from != bytes.end()) {
        const auto end = std::find(from, bytes.end(), static_cast<unsigned char>('\n'));
        if (!skipping_) {
            partial_.append(from, end);
        }
        if (partial_.size() > kLongestLine) {
            SkipToNextLine();
        }
        if (end == bytes.end()) {
            return;
        }
        if (!skipping_) {
            std::string_view whole = partial_;
            if (whole.ends_with('\r')) {
                whole.remove_suffix(1);
            }
            line(whole);
        }
        partial_.clear();
        skipping_ = false;
        from = end + 1;
    }
}

void SentenceLines::SkipToNextLine()
{
    partial_.clear();
    skipping_ = true;
}

}  // namespace tavrel::mqtt
