#include "bench/talk_lines.h"

#include <charconv>

#include "bench/merge_streams.h"
#include "bench/test_streams.h"

namespace tavrel::bench {
namespace {

constexpr std::string_view kLead = "$PBNCH,";

}  // namespace

std::string TalkLine(char talker, std::size_t number, std::size_t padding)
{
    return NmeaSentence(std::string(kLead.substr(1)) + talker + "," + std::to_string(number) + "," +
                        std::string(padding, 'X'));
}

std::optional<TalkLineId> TalkLineOf(std::string_view line)
{
    const std::size_t numberAt = kLead.size() + 2;
    if (!WellFormedSentence(line) || !line.starts_with(kLead) || line.size() <= numberAt ||
        line[numberAt - 1] != ',') {
        return std::nullopt;
    }
    std::size_t number = 0;
    const char* const end = line.data() + line.size();
    const auto [past, error] = std::from_chars(line.data() + numberAt, end, number);
    if (error != std::errc{} || past == end || *past != ',') {
        return std::nullopt;
    }
    return TalkLineId{line[kLead.size()], number};
}

}  // namespace tavrel::bench
