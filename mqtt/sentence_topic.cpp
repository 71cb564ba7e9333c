#include "mqtt/sentence_topic.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace tavrel::mqtt {
namespace {

// The talker of a standard sentence; a proprietary one has "P" alone.
constexpr std::size_t kTalkerLength = 2;

bool IsAddressCharacter(char character)
{
    return std::isupper(static_cast<unsigned char>(character)) != 0 ||
           std::isdigit(static_cast<unsigned char>(character)) != 0;
}

}  // namespace

std::optional<SentenceAddress> AddressOf(std::string_view line)
{
    if (line.empty() || (line.front() != '$' && line.front() != '!')) {
        return std::nullopt;
    }
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view address = line.substr(1, comma - 1);
    if (!std::all_of(address.begin(), address.end(), IsAddressCharacter)) {
        return std::nullopt;
    }
    const std::size_t talkerLength = address.starts_with('P') ? 1 : kTalkerLength;
    if (address.size() <= talkerLength) {
        return std::nullopt;
    }
    return SentenceAddress{address.substr(0, talkerLength), address.substr(talkerLength)};
}

std::string ExpandTopic(std::string_view topicTemplate, std::string_view host, const SentenceAddress& address)
{
    const std::array<std::pair<std::string_view, std::string_view>, 3> placeholders{{
        {"<host>", host},
        {"<talker>", address.talker},
        {"<type>", address.type},
    }};
    std::string topic;
    topic.reserve(topicTemplate.size() + host.size());
    std::size_t at = 0;
    while (at < topicTemplate.size()) {
        const auto found = std::find_if(placeholders.begin(), placeholders.end(),
                                        [&](const auto& each) { return topicTemplate.substr(at).starts_with(each.first); });
        if (found == placeholders.end()) {
            topic += topicTemplate[at++];
            continue;
        }
        topic += found->second;
        at += found->first.size();
    }
    return topic;
}

}  // namespace tavrel::mqtt
