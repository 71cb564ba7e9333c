#include "relay/output_shaper.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>

#include "state/nmea_text.h"

namespace {

// A complete line as the rules read it.
struct Sentence {
    std::string_view text;        // the line without its CR and LF
    char start = 0;               // '$' or '!'; 0 when the line is not a sentence
    std::string_view address{};   // empty when it is not a sentence
};

// "Part `number` of `parts`" of a group of sentences.
struct GroupPart {
    unsigned parts = 0;
    unsigned number = 0;
};

std::string_view AsText(std::span<const unsigned char> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool IsSentenceStart(char c)
{
    return c == '$' || c == '!';
}

Sentence ReadSentence(std::span<const unsigned char> line)
{
    Sentence sentence{.text = WithoutLineEnd(line)};
    const std::string_view text = sentence.text;
    if (!text.empty() && IsSentenceStart(text[0])) {
        sentence.start = text[0];
        sentence.address = text.substr(1, text.find_first_of(",*", 1) - 1);
    }
    return sentence;
}

unsigned char UpperHexDigit(unsigned value)
{
    return static_cast<unsigned char>("0123456789ABCDEF"[value & 0xFu]);
}

// The "*hh" that ends a sentence (without its line end), as a number.
std::optional<unsigned> CarriedChecksum(std::string_view text)
{
    if (text.size() < 4 || text[text.size() - 3] != '*') {
        return std::nullopt;
    }
    const auto high = HexDigitValue(text[text.size() - 2]);
    const auto low = HexDigitValue(text[text.size() - 1]);
    if (!high || !low) {
        return std::nullopt;
    }
    return (*high << 4) | *low;
}

// Whether the sentence carries a checksum that is the XOR of the bytes
// between its start character and the '*'.
bool ChecksumMatches(const Sentence& sentence)
{
    return sentence.start != 0 && CheckedBody(sentence.text).has_value();
}

ShapePattern CompilePattern(std::string_view pattern)
{
    ShapePattern compiled;
    if (!pattern.empty() && IsSentenceStart(pattern.front())) {
        compiled.start = pattern.front();
        pattern.remove_prefix(1);
    }
    if (!pattern.empty() && pattern.back() == '*') {
        compiled.kind = ShapePattern::Kind::Prefix;
        pattern.remove_suffix(1);
    } else if (pattern.size() == 3) {
        compiled.kind = ShapePattern::Kind::Type;
    }
    compiled.body = pattern;
    return compiled;
}

std::vector<ShapePattern> CompilePatterns(const std::vector<SentencePattern>& patterns)
{
    std::vector<ShapePattern> compiled;
    std::ranges::transform(patterns, std::back_inserter(compiled), CompilePattern);
    return compiled;
}

// A talker's sentence of this type: two characters of talker, three of type;
// proprietary addresses ('P' and a maker's code) have no type.
bool IsOfType(std::string_view address, std::string_view type)
{
    return address.size() == 5 && address[0] != 'P' && address.substr(2) == type;
}

bool Matches(const ShapePattern& pattern, const Sentence& sentence)
{
    if (sentence.start == 0 || (pattern.start != 0 && pattern.start != sentence.start)) {
        return false;
    }
    switch (pattern.kind) {
    case ShapePattern::Kind::Prefix:
        return sentence.address.starts_with(pattern.body);
    case ShapePattern::Kind::Type:
        return IsOfType(sentence.address, pattern.body);
    case ShapePattern::Kind::Whole:
        break;
    }
    return sentence.address == pattern.body;
}

bool MatchesAny(const std::vector<ShapePattern>& patterns, const Sentence& sentence)
{
    return std::ranges::any_of(patterns, [&sentence](const ShapePattern& pattern) { return Matches(pattern, sentence); });
}

std::optional<unsigned> FieldNumber(std::string_view field)
{
    if (field.empty() || field.size() > 3) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : field) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

// Satellites in view (GSV) and AIS messages (VDM, VDO) come in groups whose
// first field is the number of parts and whose second is this part's number.
std::optional<GroupPart> ReadGroupPart(const Sentence& sentence)
{
    const std::string_view address = sentence.address;
    if (!IsOfType(address, "GSV") && !IsOfType(address, "VDM") && !IsOfType(address, "VDO")) {
        return std::nullopt;
    }
    std::string_view rest = sentence.text.substr(1 + address.size());
    std::array<std::string_view, 2> fields;
    for (std::string_view& field : fields) {
        if (!rest.starts_with(',')) {
            return std::nullopt;
        }
        rest.remove_prefix(1);
        field = rest.substr(0, rest.find_first_of(",*"));
        rest.remove_prefix(field.size());
    }
    const auto parts = FieldNumber(fields[0]);
    const auto number = FieldNumber(fields[1]);
    if (!parts || !number || *number == 0 || *number > *parts) {
        return std::nullopt;
    }
    return GroupPart{*parts, *number};
}

// A part after the first goes as its group's first part went; a part whose
// first part was not seen is dropped.
bool FollowsGroup(ShapeInterval& interval, std::string_view address, GroupPart part)
{
    if (interval.groupParts != part.parts || interval.groupAddress != address) {
        return false;
    }
    if (part.number == part.parts) {
        interval.groupParts = 0;
    }
    return interval.groupPasses;
}

bool PassesInterval(ShapeInterval& interval, const Sentence& sentence, std::uint64_t nowMs)
{
    const auto part = ReadGroupPart(sentence);
    if (part && part->number > 1) {
        return FollowsGroup(interval, sentence.address, *part);
    }
    const bool passes = !interval.lastPassedMs || nowMs >= *interval.lastPassedMs + interval.everyMs;
    if (passes) {
        interval.lastPassedMs = nowMs;
    }
    if (part && part->parts > 1) {
        interval.groupAddress = sentence.address;
        interval.groupParts = part->parts;
        interval.groupPasses = passes;
    }
    return passes;
}

bool PassesIntervals(std::vector<ShapeInterval>& intervals, const Sentence& sentence, std::uint64_t nowMs)
{
    const auto interval = std::ranges::find_if(
        intervals, [&sentence](const ShapeInterval& candidate) { return Matches(candidate.pattern, sentence); });
    return interval == intervals.end() || PassesInterval(*interval, sentence, nowMs);
}

// Puts `to` in place of the talker that starts the sentence `text` (without
// its line end). Two bytes of the checksummed body change, so the XOR changes
// by theirs: a checksum that matched still does, one that did not still not.
void RewriteTalker(std::span<unsigned char> text, const TalkerRewrite& rewrite)
{
    const auto carried = CarriedChecksum(AsText(text));
    text[1] = static_cast<unsigned char>(rewrite.to[0]);
    text[2] = static_cast<unsigned char>(rewrite.to[1]);
    if (carried) {
        const unsigned checksum = *carried ^ XorOf(rewrite.from) ^ XorOf(rewrite.to);
        text[text.size() - 2] = UpperHexDigit(checksum >> 4);
        text[text.size() - 1] = UpperHexDigit(checksum);
    }
}

void Emit(std::span<const unsigned char> line, const Sentence& sentence, const std::vector<TalkerRewrite>& rewrites,
          std::vector<unsigned char>& out)
{
    const std::size_t at = out.size();
    out.insert(out.end(), line.begin(), line.end());
    const auto rewrite = std::ranges::find_if(
        rewrites, [&sentence](const TalkerRewrite& candidate) { return sentence.address.starts_with(candidate.from); });
    if (rewrite != rewrites.end()) {
        RewriteTalker(std::span(out).subspan(at, sentence.text.size()), *rewrite);
    }
}

}  // namespace

OutputShaper::OutputShaper(OutputShape shape)
    : shape_(std::move(shape)),
      transparent_(shape_.Transparent()),
      only_(CompilePatterns(shape_.only)),
      deny_(CompilePatterns(shape_.deny))
{
    for (const SentenceInterval& every : shape_.every) {
        ShapeInterval& interval = intervals_.emplace_back();
        interval.pattern = CompilePattern(every.pattern);
        interval.everyMs = every.everyMs;
    }
    std::ranges::copy_if(shape_.talkers, std::back_inserter(rewrites_),
                         [](const TalkerRewrite& rewrite) { return rewrite.from.size() == 2 && rewrite.to.size() == 2; });
    partial_.reserve(kLongestShapedLine + 1);
}

void OutputShaper::Feed(std::span<const unsigned char> chunk, std::uint64_t nowMs, std::vector<unsigned char>& out)
{
    if (transparent_) {
        out.insert(out.end(), chunk.begin(), chunk.end());
        return;
    }
    while (!chunk.empty()) {
        chunk = TakeLine(chunk, nowMs, out);
    }
}

void OutputShaper::Break()
{
    if (!partial_.empty()) {
        ++counts_.dropped;
    }
    partial_.clear();
    skippingLongLine_ = false;
    for (ShapeInterval& interval : intervals_) {
        interval.groupParts = 0;
    }
}

// Takes the bytes of `chunk` up to its first LF, or all of them, into the
// line under way, and shapes the line when they complete it. Returns the
// bytes that follow.
std::span<const unsigned char> OutputShaper::TakeLine(std::span<const unsigned char> chunk, std::uint64_t nowMs,
                                                      std::vector<unsigned char>& out)
{
    const auto* lineFeed = static_cast<const unsigned char*>(std::memchr(chunk.data(), '\n', chunk.size()));
    const bool complete = lineFeed != nullptr;
    const std::span<const unsigned char> piece =
        complete ? chunk.first(static_cast<std::size_t>(lineFeed - chunk.data()) + 1) : chunk;
    const std::span<const unsigned char> rest = chunk.subspan(piece.size());
    if (skippingLongLine_) {
        skippingLongLine_ = !complete;
        return rest;
    }
    if (partial_.size() + piece.size() - (complete ? 1 : 0) > kLongestShapedLine) {
        ++counts_.dropped;
        partial_.clear();
        skippingLongLine_ = !complete;
        return rest;
    }
    if (!complete) {
        partial_.insert(partial_.end(), piece.begin(), piece.end());
    } else if (partial_.empty()) {
        ShapeLine(piece, nowMs, out);
    } else {
        partial_.insert(partial_.end(), piece.begin(), piece.end());
        ShapeLine(partial_, nowMs, out);
        partial_.clear();
    }
    return rest;
}

void OutputShaper::ShapeLine(std::span<const unsigned char> line, std::uint64_t nowMs, std::vector<unsigned char>& out)
{
    const Sentence sentence = ReadSentence(line);
    if (shape_.checksum && !ChecksumMatches(sentence)) {
        ++counts_.badChecksum;
    } else if ((!only_.empty() && !MatchesAny(only_, sentence)) || MatchesAny(deny_, sentence)) {
        ++counts_.filtered;
    } else if (!PassesIntervals(intervals_, sentence, nowMs)) {
        ++counts_.decimated;
    } else {
        Emit(line, sentence, rewrites_, out);
        ++counts_.lines;
    }
}
