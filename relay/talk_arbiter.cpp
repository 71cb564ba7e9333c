#include "relay/talk_arbiter.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint64_t kCreditPerByte = 1000;
// Longer than any refill of the fullest bucket at the slowest rate, so that
// a long pause cannot overflow the credit.
constexpr std::uint64_t kLongestRefillMs = (kLongestTalkLine + 1) * kCreditPerByte;

bool IsDue(std::uint64_t sinceMs, std::uint64_t limitMs, std::uint64_t nowMs)
{
    return nowMs >= sinceMs + limitMs;
}

void DropLine(TalkerCounts& counts, std::size_t bytes, std::uint64_t TalkerCounts::*reason)
{
    ++counts.droppedLines;
    counts.droppedBytes += bytes;
    ++(counts.*reason);
}

void DropRawBytes(TalkerCounts& counts, std::size_t bytes, std::uint64_t TalkerCounts::*reason)
{
    counts.droppedBytes += bytes;
    counts.*reason += bytes;
}

// Where the line in `bytes` ends: after its LF, or after all of them.
std::size_t LineEnd(std::span<const unsigned char> bytes, std::size_t window)
{
    const auto* lineFeed = static_cast<const unsigned char*>(std::memchr(bytes.data(), '\n', window));
    return lineFeed ? static_cast<std::size_t>(lineFeed - bytes.data()) + 1 : window;
}

}  // namespace

TalkerCounts& TalkerCounts::operator+=(const TalkerCounts& other)
{
    for (auto field : {&TalkerCounts::bytes, &TalkerCounts::lines, &TalkerCounts::droppedLines,
                       &TalkerCounts::droppedBytes, &TalkerCounts::tooLong, &TalkerCounts::timedOut,
                       &TalkerCounts::overflowed, &TalkerCounts::cut, &TalkerCounts::rawOverflowed,
                       &TalkerCounts::rawRefused}) {
        this->*field += other.*field;
    }
    return *this;
}

// The rest of a too long line, already counted, just stops being discarded.
void TalkArbiter::Talker::DropPartial(std::uint64_t TalkerCounts::*reason)
{
    if (!partial.empty()) {
        DropLine(counts, partial.size(), reason);
        partial.clear();
    }
    discarding = false;
}

void TalkArbiter::RateBucket::Refill(std::uint64_t nowMs, std::size_t capacityBytes)
{
    const std::uint64_t capacity = capacityBytes * kCreditPerByte;
    if (!lastMs) {
        lastMs = nowMs;
        credit = capacity;
        return;
    }
    const std::uint64_t elapsed = std::min(nowMs - std::min(nowMs, *lastMs), kLongestRefillMs);
    credit = std::min(capacity, credit + elapsed * bytesPerSecond);
    lastMs = std::max(*lastMs, nowMs);
}

std::size_t TalkArbiter::RateBucket::Affords() const
{
    return static_cast<std::size_t>(credit / kCreditPerByte);
}

void TalkArbiter::RateBucket::Spend(std::size_t bytes)
{
    credit -= bytes * kCreditPerByte;
}

std::uint64_t TalkArbiter::RateBucket::DueMs(std::size_t bytes) const
{
    const std::uint64_t needed = bytes * kCreditPerByte;
    const std::uint64_t missing = needed - std::min(needed, credit);
    return lastMs.value_or(0) + (missing + bytesPerSecond - 1) / bytesPerSecond;
}

TalkArbiter::TalkArbiter(std::uint32_t bytesPerSecond)
    : boundBytes_(std::max<std::size_t>(kLeastTalkerBound, bytesPerSecond))
{
    rate_.bytesPerSecond = std::max<std::uint32_t>(bytesPerSecond, 1);
}

void TalkArbiter::Feed(std::size_t talker, TalkMode mode, std::span<const unsigned char> bytes, std::uint64_t nowMs)
{
    if (mode == TalkMode::Off) {
        return;
    }
    Advance(nowMs);
    Talker& entered = Enter(talker, mode);
    if (mode == TalkMode::Raw) {
        FeedRaw(talker, entered, bytes, nowMs);
        return;
    }
    while (!bytes.empty()) {
        bytes = TakeLinePiece(entered, bytes, nowMs);
    }
}

void TalkArbiter::Leave(std::size_t talker, std::uint64_t nowMs)
{
    Advance(nowMs);
    const auto found = talkers_.find(talker);
    if (found == talkers_.end()) {
        return;
    }
    Talker& leaving = found->second;
    leaving.DropPartial(&TalkerCounts::cut);
    leaving.left = true;
    ForgetWhenGone(talker);
}

void TalkArbiter::Take(std::uint64_t nowMs, std::vector<unsigned char>& out)
{
    Advance(nowMs);
    if (hold_) {
        HandOutRaw(nowMs, out);
    } else {
        HandOutLines(out);
    }
}

std::optional<std::uint64_t> TalkArbiter::NextDeadline() const
{
    std::optional<std::uint64_t> next;
    const auto consider = [&next](std::uint64_t at) { next = std::min(next.value_or(at), at); };
    for (const auto& [id, talker] : talkers_) {
        if (talker.InLine()) {
            consider(talker.lineSinceMs + kTalkLineTimeoutMs);
        }
    }
    if (hold_) {
        const auto holder = talkers_.find(hold_->talker);
        if (holder != talkers_.end() && !holder->second.raw.empty()) {
            consider(rate_.DueMs(std::min(holder->second.raw.size(), kRawRunBytes)));
        } else {
            consider(hold_->lastByteMs + kRawHoldMs);
        }
    } else if (const std::size_t lineBytes = NextPieceBytes(); lineBytes > 0) {
        consider(rate_.DueMs(lineBytes));
    }
    return next;
}

TalkerCounts TalkArbiter::Counts(std::size_t talker) const
{
    const auto found = talkers_.find(talker);
    return found == talkers_.end() ? TalkerCounts{} : found->second.counts;
}

// Brings the arbiter to `nowMs`: the credit earned since the last call (with
// the bucket as it was meanwhile), lines that waited too long for their LF,
// and a raw hold that has run out.
void TalkArbiter::Advance(std::uint64_t nowMs)
{
    rate_.Refill(nowMs, std::max(kTalkBurstBytes, NextPieceBytes()));
    ExpireLines(nowMs);
    EndHoldWhenDue(nowMs);
}

void TalkArbiter::ExpireLines(std::uint64_t nowMs)
{
    for (auto& [id, talker] : talkers_) {
        if (talker.InLine() && IsDue(talker.lineSinceMs, kTalkLineTimeoutMs, nowMs)) {
            talker.DropPartial(&TalkerCounts::timedOut);
        }
    }
}

void TalkArbiter::EndHoldWhenDue(std::uint64_t nowMs)
{
    if (!hold_ || !IsDue(hold_->lastByteMs, kRawHoldMs, nowMs)) {
        return;
    }
    const auto holder = talkers_.find(hold_->talker);
    if (holder == talkers_.end() || holder->second.raw.empty()) {
        hold_.reset();
    }
}

TalkArbiter::Talker& TalkArbiter::Enter(std::size_t talker, TalkMode mode)
{
    Talker& entered = talkers_[talker];
    if (mode == TalkMode::Raw) {
        entered.DropPartial(&TalkerCounts::cut);
    }
    entered.mode = mode;
    entered.left = false;
    return entered;
}

// Takes `bytes` up to the first LF, or as many as the line has room for;
// answers the bytes after those.
std::span<const unsigned char> TalkArbiter::TakeLinePiece(Talker& talker, std::span<const unsigned char> bytes,
                                                          std::uint64_t nowMs)
{
    if (!talker.InLine()) {
        talker.lineSinceMs = nowMs;
    }
    if (talker.discarding) {
        return Discard(talker, bytes);
    }
    const std::size_t window = std::min(kLongestTalkLine - talker.partial.size(), bytes.size());
    const std::size_t taken = LineEnd(bytes, window);
    talker.partial.insert(talker.partial.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(taken));
    if (talker.partial.back() == '\n') {
        CompleteLine(talker);
    } else if (talker.partial.size() == kLongestTalkLine) {
        // No LF in kLongestTalkLine bytes: whatever ends the line, it is too long.
        DropLine(talker.counts, talker.partial.size(), &TalkerCounts::tooLong);
        talker.partial.clear();
        talker.discarding = true;
    }
    return bytes.subspan(taken);
}

// Drops the rest of a too long line, up to and including its LF; answers
// the bytes after it.
std::span<const unsigned char> TalkArbiter::Discard(Talker& talker, std::span<const unsigned char> bytes)
{
    const std::size_t dropped = LineEnd(bytes, bytes.size());
    talker.counts.droppedBytes += dropped;
    talker.discarding = bytes[dropped - 1] != '\n';
    return bytes.subspan(dropped);
}

void TalkArbiter::CompleteLine(Talker& talker)
{
    const std::size_t size = talker.partial.size();
    if (talker.waitingBytes + size > boundBytes_) {
        DropLine(talker.counts, size, &TalkerCounts::overflowed);
        talker.partial.clear();
        return;
    }
    talker.waitingBytes += size;
    talker.lines.push_back(std::move(talker.partial));
    talker.partial = {};
}

void TalkArbiter::FeedRaw(std::size_t id, Talker& talker, std::span<const unsigned char> bytes, std::uint64_t nowMs)
{
    if (bytes.empty()) {
        return;
    }
    if (hold_ && hold_->talker != id) {
        DropRawBytes(talker.counts, bytes.size(), &TalkerCounts::rawRefused);
        return;
    }
    hold_ = RawHold{id, nowMs};
    const std::size_t kept = std::min(boundBytes_ - talker.waitingBytes, bytes.size());
    talker.raw.insert(talker.raw.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept));
    talker.waitingBytes += kept;
    DropRawBytes(talker.counts, bytes.size() - kept, &TalkerCounts::rawOverflowed);
}

void TalkArbiter::HandOutRaw(std::uint64_t nowMs, std::vector<unsigned char>& out)
{
    const auto holder = talkers_.find(hold_->talker);
    if (holder == talkers_.end()) {
        return;
    }
    Talker& talker = holder->second;
    const std::size_t count = std::min(talker.raw.size(), rate_.Affords());
    if (count == 0) {
        return;
    }
    const auto end = talker.raw.begin() + static_cast<std::ptrdiff_t>(count);
    out.insert(out.end(), talker.raw.begin(), end);
    talker.raw.erase(talker.raw.begin(), end);
    talker.waitingBytes -= count;
    talker.counts.bytes += count;
    rate_.Spend(count);
    hold_->lastByteMs = nowMs;
    ForgetWhenGone(hold_->talker);
}

// Whole lines, one per talker in turn, while the credit pays for the next.
void TalkArbiter::HandOutLines(std::vector<unsigned char>& out)
{
    for (auto turn = NextLineTurn(); turn; turn = NextLineTurn()) {
        Talker& talker = talkers_.at(*turn);
        const std::vector<unsigned char>& line = talker.lines.front();
        if (rate_.Affords() < line.size()) {
            return;
        }
        out.insert(out.end(), line.begin(), line.end());
        rate_.Spend(line.size());
        talker.waitingBytes -= line.size();
        talker.counts.bytes += line.size();
        ++talker.counts.lines;
        talker.lines.pop_front();
        nextTurn_ = *turn + 1;
        ForgetWhenGone(*turn);
    }
}

// The first talker with a line waiting, from nextTurn_ on and around.
std::optional<std::size_t> TalkArbiter::NextLineTurn() const
{
    const auto hasLine = [](const auto& entry) { return !entry.second.lines.empty(); };
    const auto from = talkers_.lower_bound(nextTurn_);
    if (const auto after = std::find_if(from, talkers_.end(), hasLine); after != talkers_.end()) {
        return after->first;
    }
    const auto before = std::find_if(talkers_.begin(), from, hasLine);
    return before != from ? std::optional(before->first) : std::nullopt;
}

// The line that goes next, as the bucket must be able to hold it; nothing
// during a raw hold, whose bytes may go a few at a time.
std::size_t TalkArbiter::NextPieceBytes() const
{
    if (hold_) {
        return 0;
    }
    const auto turn = NextLineTurn();
    return turn ? talkers_.at(*turn).lines.front().size() : 0;
}

void TalkArbiter::ForgetWhenGone(std::size_t talker)
{
    const auto found = talkers_.find(talker);
    if (found != talkers_.end() && found->second.left && !found->second.Waits()) {
        departed_ += found->second.counts;
        talkers_.erase(found);
    }
}
