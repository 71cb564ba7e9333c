#include "bench/merge_tally.h"

#include <algorithm>

namespace tavrel::bench {
namespace {

constexpr std::size_t kAis = static_cast<std::size_t>(MergeSource::Ais);
constexpr std::size_t kShownLine = 120;

std::string Shown(std::string_view line)
{
    std::string shown;
    for (const char c : line.substr(0, kShownLine)) {
        shown += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return shown;
}

}  // namespace

MergeTally::MergeTally(const std::array<SourceStream, kMergeSources>& streams, std::size_t readers)
    : opensGroup_(streams[kAis].opensGroup), readers_(readers)
{
    for (std::size_t s = 0; s < kMergeSources; ++s) {
        const std::vector<std::string>& sent = streams[s].sentences;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            sentences_.emplace(sent[i], Sentence{s, i, false});
        }
        for (std::size_t k = 0; k < kWarmUpSentences; ++k) {
            sentences_.emplace(WarmUpSentence(streams[s].source, k), Sentence{s, k, true});
        }
        for (Reader& reader : readers_) {
            reader.arrivals[s].resize(sent.size());
        }
    }
}

void MergeTally::Read(std::size_t reader, std::span<const unsigned char> bytes, Clock::time_point seen)
{
    Reader& r = readers_[reader];
    r.lines.Feed(bytes, [&](std::string_view line) { Take(r, line, seen); });
}

void MergeTally::Take(Reader& reader, std::string_view line, Clock::time_point seen) const
{
    const auto found = sentences_.find(std::string(line));
    if (found == sentences_.end()) {
        const bool wellFormed = WellFormedSentence(line);
        std::size_t& count = wellFormed ? reader.tally.madeUp : reader.tally.torn;
        std::string& first = wellFormed ? reader.tally.firstMadeUp : reader.tally.firstTorn;
        first = count++ == 0 ? Shown(line) : first;
        reader.openGroup.reset();
        return;
    }
    if (!found->second.warmUp) {
        FollowGroup(reader, found->second);
        Arrived(reader, found->second, seen);
    }
}

void MergeTally::Arrived(Reader& reader, const Sentence& sentence, Clock::time_point seen) const
{
    std::optional<Clock::time_point>& arrival = reader.arrivals[sentence.source][sentence.index];
    SourceTally& tally = reader.tally.sources[sentence.source];
    if (arrival) {
        ++tally.duplicates;
        return;
    }
    arrival = seen;
    ++reader.received[sentence.source];
    std::optional<std::size_t>& latest = reader.latest[sentence.source];
    tally.outOfOrder += latest && sentence.index < *latest ? 1u : 0u;
    latest = std::max(latest.value_or(0), sentence.index);
}

void MergeTally::FollowGroup(Reader& reader, const Sentence& sentence) const
{
    const bool ais = sentence.source == kAis;
    if (reader.openGroup && !(ais && sentence.index == *reader.openGroup + 1)) {
        reader.tally.groupsSplit += ais ? 0u : 1u;
    }
    reader.openGroup.reset();
    if (ais && opensGroup_[sentence.index]) {
        reader.openGroup = sentence.index;
        ++reader.tally.groups;
    }
}

bool MergeTally::Complete(const std::array<std::size_t, kMergeSources>& sent) const
{
    return std::all_of(readers_.begin(), readers_.end(), [&](const Reader& reader) {
        for (std::size_t s = 0; s < kMergeSources; ++s) {
            if (reader.received[s] < sent[s]) {
                return false;
            }
        }
        return true;
    });
}

LineTally MergeTally::Tally(const std::array<std::size_t, kMergeSources>& sent) const
{
    LineTally total;
    for (std::size_t r = 0; r < readers_.size(); ++r) {
        const Reader& reader = readers_[r];
        for (std::size_t s = 0; s < kMergeSources; ++s) {
            const auto& arrivals = reader.arrivals[s];
            const auto received = static_cast<std::size_t>(std::count_if(
                arrivals.begin(), arrivals.begin() + static_cast<std::ptrdiff_t>(std::min(sent[s], arrivals.size())),
                [](const auto& arrival) { return arrival.has_value(); }));
            SourceTally& t = total.sources[s];
            t.fewest = r == 0 ? received : std::min(t.fewest, received);
            t.most = std::max(t.most, received);
            t.duplicates += reader.tally.sources[s].duplicates;
            t.outOfOrder += reader.tally.sources[s].outOfOrder;
        }
        total.torn += reader.tally.torn;
        total.madeUp += reader.tally.madeUp;
        total.groups += reader.tally.groups;
        total.groupsSplit += reader.tally.groupsSplit;
        total.firstTorn = total.firstTorn.empty() ? reader.tally.firstTorn : total.firstTorn;
        total.firstMadeUp = total.firstMadeUp.empty() ? reader.tally.firstMadeUp : total.firstMadeUp;
    }
    return total;
}

std::vector<double> MergeTally::Millis(MergeSource source, const std::vector<Clock::time_point>& writtenAt,
                                       std::size_t first, std::size_t last) const
{
    const auto s = static_cast<std::size_t>(source);
    std::vector<double> millis;
    for (std::size_t r = first; r < std::min(last, readers_.size()); ++r) {
        const auto& arrivals = readers_[r].arrivals[s];
        for (std::size_t i = 0; i < std::min(arrivals.size(), writtenAt.size()); ++i) {
            if (arrivals[i]) {
                millis.push_back(Milliseconds(*arrivals[i] - writtenAt[i]));
            }
        }
    }
    return millis;
}

}  // namespace tavrel::bench
