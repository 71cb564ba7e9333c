// Which sentence a line of the relayed stream is, and the MQTT topic it goes
// to. An NMEA 0183 (or AIS) sentence starts with "$" or "!" and its address
// field, up to the first ",": a two-letter talker and the sentence type
// ("$GPRMC": GP, RMC; "!AIVDM": AI, VDM), or "P" and the maker's type for a
// proprietary sentence ("$PGRMC": P, GRMC). The checksum is not looked at:
// the relay passes on what the receiver sent, and so does the publisher.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavrel::mqtt {

struct SentenceAddress {
    std::string_view talker;
    std::string_view type;
};

// The address of `line` (without its line end), or nothing when it is no
// sentence: no "$"/"!", no ",", or an address that is not letters and digits.
std::optional<SentenceAddress> AddressOf(std::string_view line);

// `topicTemplate` with <host>, <talker> and <type> replaced; anything else,
// including an unknown "<...>", stays as it is.
std::string ExpandTopic(std::string_view topicTemplate, std::string_view host, const SentenceAddress& address);

}  // namespace tavrel::mqtt
