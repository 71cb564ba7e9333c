// What each reader of a merged stream got, line by line: which sentence of
// which source each line is (by its whole text, CR LF included), when it
// came, whether a source's sentences kept their order, and whether the two
// fragments of an AIS message came one right after the other. A line that
// is none of the sentences sent is torn, or, when it is a well-formed
// sentence all the same, one the relay made up or changed.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bench/clock.h"
#include "bench/merge_streams.h"

namespace tavrel::bench {

// The lines of one reader, cut at each LF.
class LineSplitter {
public:
    // Calls `line` for every line that `bytes` complete, its LF included.
    template <typename Take>
    void Feed(std::span<const unsigned char> bytes, Take&& line)
    {
        for (const unsigned char byte : bytes) {
            partial_.push_back(static_cast<char>(byte));
            if (byte == '\n') {
                line(std::string_view(partial_));
                partial_.clear();
            }
        }
    }
    void Clear() { partial_.clear(); }

private:
    std::string partial_;
};

// Per source, over the readers.
struct SourceTally {
    std::size_t fewest = 0;        // sentences received by the reader that got the fewest
    std::size_t most = 0;
    std::size_t duplicates = 0;    // a sentence read again
    std::size_t outOfOrder = 0;    // read after a later sentence of its source
};

struct LineTally {
    std::array<SourceTally, kMergeSources> sources;
    std::size_t torn = 0;          // lines that are no sentence sent and not well formed
    std::size_t madeUp = 0;        // well-formed sentences that were not sent
    std::size_t groups = 0;        // AIS first fragments read
    std::size_t groupsSplit = 0;   // ... followed by another source's sentence
    std::string firstTorn;         // the first torn line, as read
    std::string firstMadeUp;
};

class MergeTally {
public:
    MergeTally(const std::array<SourceStream, kMergeSources>& streams, std::size_t readers);

    void Read(std::size_t reader, std::span<const unsigned char> bytes, Clock::time_point seen);
    // Every reader has the first `sent[s]` sentences of every source s.
    bool Complete(const std::array<std::size_t, kMergeSources>& sent) const;
    // Of the first `sent[s]` sentences of each source.
    LineTally Tally(const std::array<std::size_t, kMergeSources>& sent) const;
    // Milliseconds from `writtenAt` (per sentence) to each reader's arrival, over
    // the readers in [first, last).
    std::vector<double> Millis(MergeSource source, const std::vector<Clock::time_point>& writtenAt,
                               std::size_t first, std::size_t last) const;

private:
    struct Sentence {
        std::size_t source = 0;
        std::size_t index = 0;
        bool warmUp = false;
    };
    struct Reader {
        LineSplitter lines;
        std::array<std::vector<std::optional<Clock::time_point>>, kMergeSources> arrivals;
        std::array<std::size_t, kMergeSources> received{};
        std::array<std::optional<std::size_t>, kMergeSources> latest{};
        std::optional<std::size_t> openGroup;   // the AIS sentence whose second fragment comes next
        LineTally tally;
    };

    void Take(Reader& reader, std::string_view line, Clock::time_point seen) const;
    void Arrived(Reader& reader, const Sentence& sentence, Clock::time_point seen) const;
    void FollowGroup(Reader& reader, const Sentence& sentence) const;

    std::unordered_map<std::string, Sentence> sentences_;
    std::vector<bool> opensGroup_;   // of the AIS stream
    std::vector<Reader> readers_;
};

}  // namespace tavrel::bench
