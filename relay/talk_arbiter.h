// Arbitrates what the programs on the outputs write back to one input (a
// receiver they send commands to), so that their bytes never mix.
//
// A talker is whatever the caller numbers so (an output's index, a TCP
// client): its number is the caller's choice, and its mode comes with what it
// feeds.
//
// - Lines: its bytes are gathered into lines, up to and including LF. A line
//   reaches the input whole, as one piece, and never mixed with another
//   talker's bytes. A line longer than kLongestTalkLine bytes is dropped with
//   what follows up to the next LF; a line without LF kTalkLineTimeoutMs after
//   its first byte is dropped. Both are counted.
// - Raw: its bytes pass as they come (a receiver's binary configuration
//   protocol). The first raw talker to talk holds the input while it talks:
//   while any of its bytes wait and until kRawHoldMs after its last byte (fed
//   or handed out). Meanwhile another raw talker's bytes are dropped, counted,
//   and the lines wait and go out after; raw bytes go only between lines.
//
// What goes to the input is held to its line rate (bytes per second, the
// baud rate / 10) by a token bucket that fills up to kTalkBurstBytes, or up to
// the next line when that is longer, so a whole line can always go. The
// talkers share the rate round-robin, one whole line each per turn, among
// those with a line waiting: a talker that floods gets its turns and no more.
// Each talker's waiting bytes are bounded (one second of line rate, at least
// kLeastTalkerBound); a line or raw bytes past the bound are dropped, counted
// against that talker.
//
// The caller passes the time (milliseconds of a monotonic clock) to every
// call; the arbiter reads no clock, starts no thread and does no I/O. The
// caller writes what Take hands out without waiting for the input, and calls
// Take again at NextDeadline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "state/output_options.h"

inline constexpr std::size_t kLongestTalkLine = 1024;
inline constexpr std::uint64_t kTalkLineTimeoutMs = 1000;
inline constexpr std::uint64_t kRawHoldMs = 1000;
inline constexpr std::size_t kTalkBurstBytes = 256;
inline constexpr std::size_t kLeastTalkerBound = 2048;
// Raw bytes held back by the rate are handed out again once this many (or
// all that wait) may go, rather than one at a time.
inline constexpr std::size_t kRawRunBytes = 64;

struct TalkerCounts {
    std::uint64_t bytes = 0;           // reached the input, lines' and raw
    std::uint64_t lines = 0;           // whole lines that reached the input
    std::uint64_t droppedLines = 0;    // every line dropped, for whichever reason below
    std::uint64_t droppedBytes = 0;    // every byte dropped, lines' and raw
    std::uint64_t tooLong = 0;         // lines longer than kLongestTalkLine
    std::uint64_t timedOut = 0;        // lines without LF kTalkLineTimeoutMs after their first byte
    std::uint64_t overflowed = 0;      // lines that found the talker's waiting bytes at their bound
    std::uint64_t cut = 0;             // partial lines of a talker that left or turned raw
    std::uint64_t rawOverflowed = 0;   // raw bytes past the talker's bound
    std::uint64_t rawRefused = 0;      // raw bytes while another raw talker held the input

    TalkerCounts& operator+=(const TalkerCounts& other);
    bool operator==(const TalkerCounts&) const = default;
};

class TalkArbiter {
public:
    // `bytesPerSecond`: the input's line rate (0 is taken as 1).
    explicit TalkArbiter(std::uint32_t bytesPerSecond);

    // What `talker` wrote, any number of bytes, none included (which just sets
    // its mode). A talker that changes from Lines to Raw loses its partial
    // line (counted as cut); its complete lines still go. Off: ignored.
    void Feed(std::size_t talker, TalkMode mode, std::span<const unsigned char> bytes, std::uint64_t nowMs);

    // The talker is gone: its partial line is dropped (cut), while its
    // complete lines and raw bytes already fed stay and go out in turn, as a
    // program that closes its port after writing a command expects. Once
    // nothing of it waits it is forgotten: its counts move to
    // DepartedCounts(), and its number may start afresh.
    void Leave(std::size_t talker, std::uint64_t nowMs);

    // Appends to `out` what may go to the input at `nowMs`: whole lines, or
    // the raw talker's bytes, within the rate.
    void Take(std::uint64_t nowMs, std::vector<unsigned char>& out);

    // When Take has something to do next (a line's time-out, the end of the
    // raw hold, the rate letting waiting bytes go): possibly already past.
    // Nothing while nothing waits.
    std::optional<std::uint64_t> NextDeadline() const;

    // A present talker's counts; zero for a number not in use.
    TalkerCounts Counts(std::size_t talker) const;
    // The sum of the counts of the talkers that left and were forgotten.
    TalkerCounts DepartedCounts() const { return departed_; }

private:
    struct Talker {
        TalkMode mode = TalkMode::Lines;
        std::vector<unsigned char> partial;      // the line being written
        bool discarding = false;                 // dropping the rest of a too long line
        std::uint64_t lineSinceMs = 0;           // the first byte of the partial or discarded line
        std::deque<std::vector<unsigned char>> lines;   // complete lines waiting
        std::deque<unsigned char> raw;           // raw bytes waiting
        std::size_t waitingBytes = 0;            // in `lines` and `raw`
        bool left = false;
        TalkerCounts counts;

        bool InLine() const { return discarding || !partial.empty(); }
        bool Waits() const { return !lines.empty() || !raw.empty(); }
        // The line being written is dropped, counted for `reason`.
        void DropPartial(std::uint64_t TalkerCounts::*reason);
    };

    // Credit in thousandths of a byte: a millisecond adds bytesPerSecond.
    struct RateBucket {
        std::uint64_t bytesPerSecond = 1;
        std::uint64_t credit = 0;
        std::optional<std::uint64_t> lastMs;     // nothing before the first call

        void Refill(std::uint64_t nowMs, std::size_t capacityBytes);
        std::size_t Affords() const;             // whole bytes
        void Spend(std::size_t bytes);
        std::uint64_t DueMs(std::size_t bytes) const;   // when `bytes` may go
    };

    struct RawHold {
        std::size_t talker = 0;
        std::uint64_t lastByteMs = 0;
    };

    void Advance(std::uint64_t nowMs);
    void ExpireLines(std::uint64_t nowMs);
    void EndHoldWhenDue(std::uint64_t nowMs);
    Talker& Enter(std::size_t talker, TalkMode mode);
    std::span<const unsigned char> TakeLinePiece(Talker& talker, std::span<const unsigned char> bytes,
                                                 std::uint64_t nowMs);
    static std::span<const unsigned char> Discard(Talker& talker, std::span<const unsigned char> bytes);
    void CompleteLine(Talker& talker);
    void FeedRaw(std::size_t id, Talker& talker, std::span<const unsigned char> bytes, std::uint64_t nowMs);
    void HandOutRaw(std::uint64_t nowMs, std::vector<unsigned char>& out);
    void HandOutLines(std::vector<unsigned char>& out);
    std::optional<std::size_t> NextLineTurn() const;
    std::size_t NextPieceBytes() const;
    void ForgetWhenGone(std::size_t talker);

    std::size_t boundBytes_;
    RateBucket rate_;
    std::map<std::size_t, Talker> talkers_;
    std::optional<RawHold> hold_;
    std::size_t nextTurn_ = 0;                   // the talker whose line goes first when several wait
    TalkerCounts departed_;
};
