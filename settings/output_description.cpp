#include "settings/output_description.h"

#include <algorithm>
#include <charconv>

#include "settings/setting_words.h"
#include "state/extra_inputs.h"

namespace {

// The longest address a pattern names: far more than any sentence's.
constexpr std::size_t kLongestPattern = 16;
// An interval of at most a day.
constexpr unsigned long kLongestIntervalMs = 86'400'000;

std::optional<unsigned long> Number(std::string_view text)
{
    unsigned long number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty() ? std::optional(number)
                                                                                   : std::nullopt;
}

std::vector<std::string_view> SplitAt(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

bool IsAddressCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsPattern(std::string_view pattern)
{
    std::string_view body = pattern;
    if (!body.empty() && (body.front() == '$' || body.front() == '!')) {
        body.remove_prefix(1);
    }
    if (!body.empty() && body.back() == '*') {
        body.remove_suffix(1);
    }
    return !body.empty() && body.size() <= kLongestPattern && std::all_of(body.begin(), body.end(), IsAddressCharacter);
}

bool IsTalker(std::string_view talker)
{
    return talker.size() == 2 && std::all_of(talker.begin(), talker.end(), IsAddressCharacter);
}

std::optional<std::vector<SentencePattern>> ParsePatterns(std::string_view list, std::string& reason)
{
    std::vector<SentencePattern> patterns;
    for (const std::string_view pattern : SplitAt(list, ',')) {
        if (!IsPattern(pattern)) {
            reason = Quoted(pattern) + " is not a sentence pattern (GGA, GPGGA, !AIVDM, $PGRM*)";
            return std::nullopt;
        }
        patterns.emplace_back(pattern);
    }
    return patterns;
}

std::optional<std::vector<TalkerRewrite>> ParseTalkers(std::string_view list, std::string& reason)
{
    std::vector<TalkerRewrite> rewrites;
    for (const std::string_view pair : SplitAt(list, ',')) {
        const std::vector<std::string_view> halves = SplitAt(pair, ':');
        if (halves.size() != 2 || !IsTalker(halves[0]) || !IsTalker(halves[1])) {
            reason = Quoted(pair) + " is not a talker rewrite (GN:GP)";
            return std::nullopt;
        }
        rewrites.push_back({std::string(halves[0]), std::string(halves[1])});
    }
    return rewrites;
}

std::optional<SentenceInterval> ParseInterval(std::string_view pattern, std::string_view ms, std::string& reason)
{
    const std::optional<unsigned long> every = Number(ms);
    if (!IsPattern(pattern) || !every || *every == 0 || *every > kLongestIntervalMs) {
        reason = Quoted(std::string(pattern).append(" ").append(ms)) +
                 " is not a sentence pattern and an interval (RMC 1000: 1 ms to a day)";
        return std::nullopt;
    }
    return SentenceInterval{std::string(pattern), static_cast<std::uint32_t>(*every)};
}

std::optional<std::vector<SentenceInterval>> ParseIntervals(std::string_view list, std::string& reason)
{
    std::vector<SentenceInterval> intervals;
    for (const std::string_view item : SplitAt(list, ',')) {
        const std::size_t colon = item.rfind(':');
        const std::optional<SentenceInterval> interval =
            colon == std::string_view::npos ? std::nullopt
                                            : ParseInterval(item.substr(0, colon), item.substr(colon + 1), reason);
        if (!interval) {
            if (colon == std::string_view::npos) {
                reason = Quoted(item) + " is not PATTERN:MS (RMC:1000)";
            }
            return std::nullopt;
        }
        intervals.push_back(*interval);
    }
    return intervals;
}

std::optional<TalkMode> ParseTalkMode(std::string_view word)
{
    if (word == "off") {
        return TalkMode::Off;
    }
    if (word == "lines") {
        return TalkMode::Lines;
    }
    if (word == "raw") {
        return TalkMode::Raw;
    }
    return std::nullopt;
}

std::optional<std::size_t> ParseInputNumber(std::string_view typed)
{
    const std::optional<unsigned long> number = Number(typed);
    return number && *number <= kMostExtraInputs ? std::optional<std::size_t>(*number) : std::nullopt;
}

// Takes the result of a list parser into `field`; false when there was none.
template <typename List>
bool TakeList(std::optional<List> parsed, List& field)
{
    if (parsed) {
        field = std::move(*parsed);
    }
    return parsed.has_value();
}

// One stored "key=value" word.
bool TakeStoredWord(OutputOptions& options, std::string_view word, std::string& reason)
{
    const std::size_t equals = word.find('=');
    const std::string_view key = word.substr(0, equals);
    const std::string_view value = equals == std::string_view::npos ? std::string_view{} : word.substr(equals + 1);
    OutputShape& shape = options.shape;
    if (key == "talk" && ParseTalkMode(value)) {
        options.talk = *ParseTalkMode(value);
        return true;
    }
    if (key == "to" && ParseInputNumber(value)) {
        options.talkTo = *ParseInputNumber(value);
        return true;
    }
    if (key == "checksum" && (value == "on" || value == "off")) {
        shape.checksum = value == "on";
        return true;
    }
    if (key == "only" || key == "deny") {
        return TakeList(ParsePatterns(value, reason), key == "only" ? shape.only : shape.deny);
    }
    if (key == "talker") {
        return TakeList(ParseTalkers(value, reason), shape.talkers);
    }
    if (key == "every") {
        return TakeList(ParseIntervals(value, reason), shape.every);
    }
    reason = Quoted(word) + " is not an output's option (talk=, to=, only=, deny=, checksum=, talker=, every=)";
    return false;
}

template <typename Item, typename Show>
std::string Joined(const std::vector<Item>& items, Show show)
{
    std::string text;
    for (const Item& item : items) {
        text.append(text.empty() ? "" : ",").append(show(item));
    }
    return text;
}

void AppendWord(std::string& text, std::string_view key, const std::string& value)
{
    text.append(text.empty() ? "" : " ").append(key).append("=").append(value);
}

// "every RMC 1000" adds an interval, or replaces the one of the same
// pattern; "every RMC off" removes it.
bool ApplyEvery(OutputShape& shape, const std::vector<std::string>& words, std::string& reason)
{
    if (words.size() != 3) {
        reason = "every takes a pattern and an interval in ms, or off (every RMC 1000)";
        return false;
    }
    auto& every = shape.every;
    std::erase_if(every, [&](const SentenceInterval& interval) { return interval.pattern == words[1]; });
    if (words[2] == "off") {
        return true;
    }
    const std::optional<SentenceInterval> interval = ParseInterval(words[1], words[2], reason);
    if (interval) {
        every.push_back(*interval);
    }
    return interval.has_value();
}

bool ApplyTalk(OutputOptions& options, const std::vector<std::string>& words, std::string& reason)
{
    const std::optional<TalkMode> mode = words.size() >= 2 ? ParseTalkMode(words[1]) : std::nullopt;
    std::optional<std::size_t> to = options.talkTo;
    if (words.size() == 3) {
        to = words[2].starts_with("to=") ? ParseInputNumber(std::string_view(words[2]).substr(3)) : std::nullopt;
    }
    if (!mode || !to || words.size() > 3) {
        reason = "talk takes lines, raw or off, and to=N for input N (0 the main one, up to " +
                 std::to_string(kMostExtraInputs) + ")";
        return false;
    }
    options.talk = *mode;
    options.talkTo = *to;
    return true;
}

// A command of two words whose second is a list or off: only, deny, talker.
template <typename List, typename Parser>
bool ApplyList(const std::vector<std::string>& words, List& field, Parser parse, std::string& reason)
{
    if (words.size() != 2) {
        reason = words[0] + " takes one list, or off";
        return false;
    }
    if (words[1] == "off") {
        field.clear();
        return true;
    }
    return TakeList(parse(words[1], reason), field);
}

bool ApplyTo(OutputOptions& options, const std::vector<std::string>& words, std::string& reason)
{
    const std::string& command = words[0];
    OutputShape& shape = options.shape;
    if (command == "talk") {
        return ApplyTalk(options, words, reason);
    }
    if (command == "only" || command == "deny") {
        return ApplyList(words, command == "only" ? shape.only : shape.deny, ParsePatterns, reason);
    }
    if (command == "talker") {
        return ApplyList(words, shape.talkers, ParseTalkers, reason);
    }
    if (command == "every") {
        return ApplyEvery(shape, words, reason);
    }
    if (command == "checksum" && words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
        shape.checksum = words[1] == "on";
        return true;
    }
    if (command == "shape" && words.size() == 2 && words[1] == "off") {
        shape = OutputShape{};
        return true;
    }
    reason = Quoted(command) + " is not an output's command (talk, only, deny, checksum, talker, every, shape off)";
    return false;
}

}  // namespace

std::optional<OutputOptions> ParseOutputOptionsText(std::string_view text, std::string& reason)
{
    OutputOptions options;
    for (const std::string& word : SplitWords(text)) {
        if (!TakeStoredWord(options, word, reason)) {
            return std::nullopt;
        }
    }
    return options;
}

std::string OutputOptionsText(const OutputOptions& options)
{
    std::string text;
    const OutputShape& shape = options.shape;
    if (options.talk != TalkMode::Off) {
        AppendWord(text, "talk", options.talk == TalkMode::Lines ? "lines" : "raw");
        if (options.talkTo != 0) {
            AppendWord(text, "to", std::to_string(options.talkTo));
        }
    }
    const auto asIs = [](const std::string& pattern) { return pattern; };
    if (!shape.only.empty()) {
        AppendWord(text, "only", Joined(shape.only, asIs));
    }
    if (!shape.deny.empty()) {
        AppendWord(text, "deny", Joined(shape.deny, asIs));
    }
    if (shape.checksum) {
        AppendWord(text, "checksum", "on");
    }
    if (!shape.talkers.empty()) {
        AppendWord(text, "talker", Joined(shape.talkers, [](const TalkerRewrite& r) { return r.from + ":" + r.to; }));
    }
    if (!shape.every.empty()) {
        AppendWord(text, "every", Joined(shape.every, [](const SentenceInterval& interval) {
                       return interval.pattern + ":" + std::to_string(interval.everyMs);
                   }));
    }
    return text;
}

bool ApplyOutputCommand(OutputOptions& options, const std::vector<std::string>& words, std::string& reason)
{
    if (words.empty()) {
        reason = "no command";
        return false;
    }
    OutputOptions changed = options;
    if (!ApplyTo(changed, words, reason)) {
        return false;
    }
    options = std::move(changed);
    return true;
}
