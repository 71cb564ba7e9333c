// The stream of the MQTT section and what a subscriber makes of it: GPS
// sentences of 1 to 10 types in turn, each type its own topic at the broker,
// every sentence carrying its number as its first field so that the message
// a subscriber gets is matched to the write on the input that carried it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/clock.h"
#include "bench/test_streams.h"

namespace tavrel::bench {

// The sentence types of the stream, in the order they take turns.
inline constexpr std::size_t kMqttSentenceTypes = 10;

// One message as a subscriber received it, timed when its callback ran.
struct MqttMessage {
    std::string topic;
    std::string payload;
    Clock::time_point receivedAt;
};

// Sentence `number` of a stream of `types` types: "$GP<type>,<number>,..."
// with its checksum and CR LF. A number past the stream's end makes a
// warm-up sentence that the figures never count.
std::string NumberedSentence(std::size_t types, std::size_t number);

// Whole sentences, at least `size` bytes of them, numbered from 0.
NmeaStream NumberedStream(std::size_t types, std::size_t size);

// The number a sentence of that stream carries; nothing for any other text.
std::optional<std::size_t> NumberOf(std::string_view sentence);

// The messages of a run matched to the sentences written (`sentAt`, by number).
struct MqttReceipts {
    std::vector<double> millis;     // from each sentence's write to its first receipt
    std::size_t distinct = 0;       // sentences received at least once
    std::size_t repeated = 0;       // receipts of a sentence already received
    std::size_t foreign = 0;        // messages that are no sentence of the run
};
MqttReceipts MatchReceipts(const std::vector<Clock::time_point>& sentAt, const std::vector<MqttMessage>& messages);

}  // namespace tavrel::bench
