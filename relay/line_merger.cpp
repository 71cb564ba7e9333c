#include "relay/line_merger.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <utility>

#include "state/nmea_text.h"

namespace {

struct AisFragment {
    unsigned count = 0;
    unsigned number = 0;
};

bool IsDue(std::uint64_t sinceMs, std::uint64_t limitMs, std::uint64_t nowMs)
{
    return nowMs >= sinceMs + limitMs;
}

bool IsAisTag(std::string_view tag)
{
    const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
    return tag.size() == 5 && upper(tag[0]) && upper(tag[1]) &&
           (tag.substr(2) == "VDM" || tag.substr(2) == "VDO");
}

std::optional<unsigned> FragmentDigit(std::string_view field)
{
    if (field.size() != 1 || field[0] < '1' || field[0] > '9') {
        return std::nullopt;
    }
    return static_cast<unsigned>(field[0] - '0');
}

// Fragment count and number of an AIS sentence: tag, count, number, message
// id, channel, payload, fill bits, and a checksum that matches.
std::optional<AisFragment> ParseAisFragment(std::span<const unsigned char> line)
{
    const std::string_view sentence = WithoutLineEnd(line);
    if (sentence.empty() || sentence[0] != '!') {
        return std::nullopt;
    }
    const auto body = CheckedBody(sentence);
    if (!body || std::count(body->begin(), body->end(), ',') != 6) {
        return std::nullopt;
    }
    std::array<std::string_view, 3> fields;
    std::string_view rest = *body;
    for (std::string_view& field : fields) {
        const std::size_t comma = rest.find(',');
        field = rest.substr(0, comma);
        rest.remove_prefix(comma + 1);
    }
    const auto count = FragmentDigit(fields[1]);
    const auto number = FragmentDigit(fields[2]);
    if (!IsAisTag(fields[0]) || !count || !number || *number > *count) {
        return std::nullopt;
    }
    return AisFragment{*count, *number};
}

bool StandingBy(const LineMerge& merge, std::size_t input, std::uint64_t nowMs)
{
    const MergeRule& rule = merge.inputs[input].rule;
    return rule.standbyFor && !IsDue(merge.inputs[*rule.standbyFor].lastByteMs, rule.standbyAfterMs, nowMs);
}

// The inputs standing by for `input` that were in use stand by from now.
void NoteByteFrom(LineMerge& merge, std::size_t input, std::uint64_t nowMs)
{
    for (std::size_t other = 0; other < merge.inputs.size(); ++other) {
        if (merge.inputs[other].rule.standbyFor == input && !StandingBy(merge, other, nowMs)) {
            merge.inputs[other].standingBySinceMs = nowMs;
        }
    }
    merge.inputs[input].lastByteMs = nowMs;
}

void Emit(LineMerge& merge, std::size_t input, std::span<const unsigned char> line, bool torn)
{
    MergedInputCounts& counts = merge.inputs[input].counts;
    ++counts.lines;
    if (torn) {
        ++counts.torn;
    }
    if (merge.sink) {
        merge.sink(input, line, torn);
    }
}

// Calls `offer` with each waiting line in order.
template <typename Offer>
void ForEachWaiting(const WaitingLines& waiting, Offer offer)
{
    std::size_t offset = 0;
    for (const WaitingLine& line : waiting.lines) {
        offer(line, std::span(waiting.bytes).subspan(offset, line.size));
        offset += line.size;
    }
}

void ForgetWaiting(LineMerge& merge, WaitingLines& waiting)
{
    waiting.bytes.clear();
    waiting.lines.clear();
    for (MergedInput& input : merge.inputs) {
        input.waitingLines = 0;
    }
}

// Everything waiting goes out in order, and no group holds lines any more.
void ReleaseAllWaiting(LineMerge& merge)
{
    merge.group.reset();
    ForEachWaiting(merge.waiting, [&](const WaitingLine& line, std::span<const unsigned char> bytes) {
        Emit(merge, line.input, bytes, line.torn);
    });
    ForgetWaiting(merge, merge.waiting);
}

void Wait(LineMerge& merge, std::size_t input, std::span<const unsigned char> line, bool torn, std::uint64_t arrivedMs)
{
    merge.waiting.bytes.insert(merge.waiting.bytes.end(), line.begin(), line.end());
    merge.waiting.lines.push_back({input, line.size(), torn, arrivedMs});
    ++merge.inputs[input].waitingLines;
    if (merge.waiting.bytes.size() > kMostWaitingBytes) {
        ReleaseAllWaiting(merge);
    }
}

// Opens, restarts or ends the group after a whole line of `input` went out.
void FollowAisGroup(LineMerge& merge, std::size_t input, std::span<const unsigned char> line,
                    std::uint64_t arrivedMs, std::uint64_t nowMs)
{
    const auto fragment = ParseAisFragment(line);
    if (!fragment || fragment->count < 2) {
        return;
    }
    if (fragment->number == fragment->count) {
        merge.group.reset();
        return;
    }
    const bool opens = !merge.group || fragment->number == 1;
    if (opens && !IsDue(arrivedMs, kAisGroupTimeoutMs, nowMs)) {
        merge.group = AisGroup{input, arrivedMs};
    }
}

// A line goes out unless a group of another input is open or earlier lines
// of its own input still wait.
void Route(LineMerge& merge, std::size_t input, std::span<const unsigned char> line, bool torn,
           std::uint64_t arrivedMs, std::uint64_t nowMs)
{
    if ((merge.group && merge.group->input != input) || merge.inputs[input].waitingLines > 0) {
        Wait(merge, input, line, torn, arrivedMs);
        return;
    }
    Emit(merge, input, line, torn);
    if (!torn) {
        FollowAisGroup(merge, input, line, arrivedMs, nowMs);
    }
}

// Once no group is open, the waiting lines are offered again in order; one
// of them may open a group, and the lines after it wait again.
void Settle(LineMerge& merge, std::uint64_t nowMs)
{
    while (!merge.group && !merge.waiting.lines.empty()) {
        std::swap(merge.waiting, merge.replaying);
        ForgetWaiting(merge, merge.waiting);
        ForEachWaiting(merge.replaying, [&](const WaitingLine& line, std::span<const unsigned char> bytes) {
            Route(merge, line.input, bytes, line.torn, line.arrivedMs, nowMs);
        });
        merge.replaying.bytes.clear();
        merge.replaying.lines.clear();
    }
}

void EndLine(LineMerge& merge, std::size_t input, bool torn, std::uint64_t nowMs)
{
    MergedInput& in = merge.inputs[input];
    if (StandingBy(merge, input, nowMs)) {
        ++in.counts.droppedStandingBy;
    } else {
        Route(merge, input, in.partial, torn, nowMs, nowMs);
        Settle(merge, nowMs);
    }
    in.partial.clear();
}

// Takes `bytes` up to the first LF, or as many as the line has room for;
// answers the bytes after those.
std::span<const unsigned char> TakeLinePiece(LineMerge& merge, std::size_t input,
                                             std::span<const unsigned char> bytes, std::uint64_t nowMs)
{
    MergedInput& in = merge.inputs[input];
    if (in.partial.empty()) {
        in.partialSinceMs = nowMs;
    }
    const std::size_t window = std::min(kLongestLine - in.partial.size(), bytes.size());
    const auto* lineFeed = static_cast<const unsigned char*>(std::memchr(bytes.data(), '\n', window));
    const std::size_t taken = lineFeed ? static_cast<std::size_t>(lineFeed - bytes.data()) + 1 : window;
    in.partial.insert(in.partial.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(taken));
    if (lineFeed || in.partial.size() == kLongestLine) {
        EndLine(merge, input, !lineFeed, nowMs);
    }
    return bytes.subspan(taken);
}

}  // namespace

void StartMerge(LineMerge& merge, std::vector<MergeRule> rules, LineSink sink, std::uint64_t nowMs)
{
    merge = LineMerge{};
    merge.sink = std::move(sink);
    merge.startMs = nowMs;
    for (MergeRule& rule : rules) {
        if (rule.standbyFor >= rules.size() || rule.standbyFor == merge.inputs.size()) {
            rule.standbyFor.reset();
        }
        MergedInput& input = merge.inputs.emplace_back();
        input.rule = rule;
        input.partial.reserve(kLongestLine);
        input.lastByteMs = nowMs;
        input.standingBySinceMs = nowMs;
    }
}

void FeedMerge(LineMerge& merge, std::size_t input, std::span<const unsigned char> bytes, std::uint64_t nowMs)
{
    if (input >= merge.inputs.size()) {
        return;
    }
    TickMerge(merge, nowMs);
    if (bytes.empty()) {
        return;
    }
    NoteByteFrom(merge, input, nowMs);
    merge.inputs[input].counts.bytes += bytes.size();
    while (!bytes.empty()) {
        bytes = TakeLinePiece(merge, input, bytes, nowMs);
    }
}

void TickMerge(LineMerge& merge, std::uint64_t nowMs)
{
    if (merge.group && IsDue(merge.group->sinceMs, kAisGroupTimeoutMs, nowMs)) {
        merge.group.reset();
        Settle(merge, nowMs);
    }
    for (std::size_t input = 0; input < merge.inputs.size(); ++input) {
        const MergedInput& in = merge.inputs[input];
        if (!in.partial.empty() && IsDue(in.partialSinceMs, kLineTimeoutMs, nowMs)) {
            EndLine(merge, input, true, nowMs);
        }
    }
}

std::optional<std::uint64_t> NextMergeDeadline(const LineMerge& merge)
{
    std::optional<std::uint64_t> next;
    const auto consider = [&next](std::uint64_t at) { next = std::min(next.value_or(at), at); };
    if (merge.group) {
        consider(merge.group->sinceMs + kAisGroupTimeoutMs);
    }
    for (const MergedInput& input : merge.inputs) {
        if (!input.partial.empty()) {
            consider(input.partialSinceMs + kLineTimeoutMs);
        }
    }
    return next;
}

void FlushMergeInput(LineMerge& merge, std::size_t input, std::uint64_t nowMs)
{
    if (input >= merge.inputs.size()) {
        return;
    }
    TickMerge(merge, nowMs);
    if (!merge.inputs[input].partial.empty()) {
        EndLine(merge, input, true, nowMs);
    }
    if (merge.group && merge.group->input == input) {
        merge.group.reset();
        Settle(merge, nowMs);
    }
}

void FlushMerge(LineMerge& merge, std::uint64_t nowMs)
{
    for (std::size_t input = 0; input < merge.inputs.size(); ++input) {
        FlushMergeInput(merge, input, nowMs);
    }
    ReleaseAllWaiting(merge);
}

MergedInputCounts MergeCounts(const LineMerge& merge, std::size_t input, std::uint64_t nowMs)
{
    if (input >= merge.inputs.size()) {
        return {};
    }
    const MergedInput& in = merge.inputs[input];
    MergedInputCounts counts = in.counts;
    counts.standingBy = StandingBy(merge, input, nowMs);
    if (counts.standingBy) {
        counts.stateSinceMs = in.standingBySinceMs;
    } else if (in.rule.standbyFor) {
        counts.stateSinceMs = merge.inputs[*in.rule.standbyFor].lastByteMs + in.rule.standbyAfterMs;
    } else {
        counts.stateSinceMs = merge.startMs;
    }
    return counts;
}
