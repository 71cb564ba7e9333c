// Shapes the stream of the outputs that share one OutputShape for the
// program that reads them.
//
// A shaped output is line-based: a line is the bytes up to and including LF
// (a CR is just a byte of the line), and it passes whole or not at all. The
// shaper takes the stream in chunks as they come, keeps the partial line
// between calls and appends the lines that pass to the caller's buffer. Each
// complete line meets these, in order:
// - a line longer than kLongestShapedLine bytes before its LF is dropped, up
//   to and including its LF;
// - with `checksum` on, a line that is not a sentence ending in a matching
//   "*hh" (before its CR and LF) is dropped;
// - `only` and `deny` keep or drop it by its address;
// - the first `every` entry that matches its address lets at most one such
//   sentence through per its time; the parts after the first of a group of
//   sentences ("part k of n": GSV, AIS VDM and VDO) follow their first part,
//   and parts whose first part was not seen are dropped;
// - the first `talkers` rewrite whose `from` begins its address replaces
//   those two characters with `to`, and a "*hh" that the sentence carries is
//   made anew. A checksum that matched still matches; one that did not still
//   does not, so a rewrite never turns a damaged sentence into a good one.
//   The filters above see the address as it came, before the rewrite.
//
// A sentence is a line that starts with '$' or '!'; its address is what
// follows up to the first ',' or '*' ("GPGGA", "AIVDM", "PGRMZ"). Other
// lines have no address and match no pattern.
//
// A transparent shape passes every byte as it comes and counts nothing.
//
// The caller passes the time (milliseconds of a monotonic clock) to each
// feed; the shaper reads no clock and starts no thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "state/output_options.h"

inline constexpr std::size_t kLongestShapedLine = 4096;

struct ShapeCounts {
    std::uint64_t lines = 0;         // passed
    std::uint64_t filtered = 0;      // by `only` or `deny`
    std::uint64_t badChecksum = 0;
    std::uint64_t decimated = 0;     // by `every`
    std::uint64_t dropped = 0;       // too long, or cut short by a break
    bool operator==(const ShapeCounts&) const = default;
};

// A sentence pattern made ready to match addresses.
struct ShapePattern {
    enum class Kind : std::uint8_t {
        Whole,    // the address is the body
        Prefix,   // the address starts with the body ("PGRM*")
        Type,     // a talker's sentence of this type ("GGA")
    };
    char start = 0;   // '$' or '!'; 0 for either
    std::string body;
    Kind kind = Kind::Whole;
};

// One `every` entry, with when it last let a sentence through and the group
// of sentences under way.
struct ShapeInterval {
    ShapePattern pattern;
    std::uint32_t everyMs = 0;
    std::optional<std::uint64_t> lastPassedMs;
    std::string groupAddress;
    unsigned groupParts = 0;   // 0 while no group is under way
    bool groupPasses = false;
};

class OutputShaper {
public:
    explicit OutputShaper(OutputShape shape);

    // Appends to `out` the lines completed by `chunk` (with the part kept
    // from before) that pass; keeps the line that `chunk` leaves unfinished.
    void Feed(std::span<const unsigned char> chunk, std::uint64_t nowMs, std::vector<unsigned char>& out);

    // The input was lost or restarted: the partial line kept is dropped, and
    // a group of sentences under way ends.
    void Break();

    const ShapeCounts& Counts() const { return counts_; }
    const OutputShape& Shape() const { return shape_; }

private:
    std::span<const unsigned char> TakeLine(std::span<const unsigned char> chunk, std::uint64_t nowMs,
                                            std::vector<unsigned char>& out);
    void ShapeLine(std::span<const unsigned char> line, std::uint64_t nowMs, std::vector<unsigned char>& out);

    OutputShape shape_;
    bool transparent_ = false;
    std::vector<ShapePattern> only_;
    std::vector<ShapePattern> deny_;
    std::vector<ShapeInterval> intervals_;
    std::vector<TalkerRewrite> rewrites_;   // those of two characters each
    std::vector<unsigned char> partial_;
    bool skippingLongLine_ = false;         // dropping the rest of a line that was too long
    ShapeCounts counts_;
};
