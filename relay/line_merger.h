// Merges the lines of several inputs into one stream for the outputs.
//
// The input whose bytes the relay writes is one of several: the main input
// (number 0) and the extra ones (1 and up, nine in all at the most). Bytes of
// two inputs must never mix inside a line, or every program on the outputs
// would see a broken sentence, so the merger hands the outputs whole lines:
// the bytes up to and including LF, unchanged (a CR is just a byte of the
// line). Each input's lines keep their order.
//
// - A line that has no LF 1000 ms after its first byte, or 4096 bytes long,
//   goes out as it is, counted as torn; what follows starts a new line.
// - An AIS message of several sentences (!xxVDM or !xxVDO, fragment k of n)
//   stays together: from a fragment k < n until the same input's last
//   fragment (k == n), for at most 1000 ms after the fragment that opened the
//   group, the complete lines of the other inputs wait, in order; the group's
//   own input goes on meanwhile. Only a well-formed sentence with a matching
//   checksum counts; any other line is just a line. A group that starts on
//   another input meanwhile has its fragments wait too, and when the open
//   group ends the waiting lines go out as if they arrived then, in their
//   order: a waiting first fragment opens its group (its 1000 ms counted from
//   when it arrived), so that group stays whole as well. When more than
//   256 KiB wait, the open group is ended early and everything waiting goes
//   out in order, without holding for the groups among it.
// - An input may stand by for another: its lines go out only after the other
//   has sent no byte for its silence time (from the start of the merge when
//   it has sent none), and are dropped, counted, as soon as the other sends
//   again. Whether a line goes out is decided when it is complete.
//
// The caller passes the time (milliseconds of a monotonic clock) to every
// call; the merger reads no clock and starts no thread. It calls the sink
// from inside those calls; the sink must not call back into the merger.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

inline constexpr std::uint64_t kLineTimeoutMs = 1000;
inline constexpr std::size_t kLongestLine = 4096;
inline constexpr std::uint64_t kAisGroupTimeoutMs = 1000;
inline constexpr std::size_t kMostWaitingBytes = 256 * 1024;

// Called for each line that goes out: the input it came from, its bytes, and
// whether it was torn (ended by time, length or flush rather than by LF).
using LineSink = std::function<void(std::size_t input, std::span<const unsigned char> line, bool torn)>;

struct MergeRule {
    // The input this one stands by for; nothing when it always goes out. An
    // input that names itself or no input stands by for nothing.
    std::optional<std::size_t> standbyFor;
    // How long the other must be silent before this one's lines go out.
    std::uint64_t standbyAfterMs = 3000;
};

struct MergedInputCounts {
    std::uint64_t bytes = 0;               // fed, zero-byte feeds adding nothing
    std::uint64_t lines = 0;               // gone out, torn ones included
    std::uint64_t torn = 0;                // gone out torn
    std::uint64_t droppedStandingBy = 0;   // complete lines dropped while standing by
    // Only an input with a standby rule ever stands by; the others are in use
    // since the start. For a standby input: since it took over (the moment the
    // other's silence reached its time) or since it last gave back.
    bool standingBy = false;
    std::uint64_t stateSinceMs = 0;
};

// One input as the merger keeps it.
struct MergedInput {
    MergeRule rule;
    std::vector<unsigned char> partial;    // the line being received
    std::uint64_t partialSinceMs = 0;      // when its first byte came
    std::uint64_t lastByteMs = 0;          // the start of the merge until a byte comes
    std::uint64_t standingBySinceMs = 0;
    std::size_t waitingLines = 0;          // among the merge's waiting lines
    MergedInputCounts counts;
};

struct WaitingLine {
    std::size_t input = 0;
    std::size_t size = 0;
    bool torn = false;
    std::uint64_t arrivedMs = 0;
};

// Lines that wait, in order, their bytes one after the other.
struct WaitingLines {
    std::vector<unsigned char> bytes;
    std::vector<WaitingLine> lines;
};

struct AisGroup {
    std::size_t input = 0;
    std::uint64_t sinceMs = 0;             // when the fragment that opened it came
};

struct LineMerge {
    std::vector<MergedInput> inputs;
    LineSink sink;
    std::uint64_t startMs = 0;
    std::optional<AisGroup> group;
    WaitingLines waiting;
    WaitingLines replaying;                // the waiting lines while they are offered again
};

// Starts merging one input per rule (input i follows rules[i]).
void StartMerge(LineMerge& merge, std::vector<MergeRule> rules, LineSink sink, std::uint64_t nowMs);

// `bytes` as read from `input`, any number of them, none included. Emits what
// was due by `nowMs` first. An input number out of range is ignored.
void FeedMerge(LineMerge& merge, std::size_t input, std::span<const unsigned char> bytes, std::uint64_t nowMs);

// Emits what is due by `nowMs`: lines that waited too long for their LF, and
// the lines that waited for an AIS group that took too long.
void TickMerge(LineMerge& merge, std::uint64_t nowMs);

// When TickMerge has something to do next; nothing while nothing is due.
std::optional<std::uint64_t> NextMergeDeadline(const LineMerge& merge);

// The input is lost: its partial line goes out torn (or is dropped while the
// input stands by), and an AIS group open on it ends.
void FlushMergeInput(LineMerge& merge, std::size_t input, std::uint64_t nowMs);

// The end of the run: every partial line and every waiting line goes out.
void FlushMerge(LineMerge& merge, std::uint64_t nowMs);

// The input's counts, and whether it stands by at `nowMs`.
MergedInputCounts MergeCounts(const LineMerge& merge, std::size_t input, std::uint64_t nowMs);
