#include "bench/mqtt_streams.h"

#include <array>
#include <charconv>
#include <cstdio>

namespace tavrel::bench {
namespace {

constexpr std::array<const char*, kMqttSentenceTypes> kTypes = {"GGA", "RMC", "GSA", "GSV", "VTG",
                                                               "GLL", "ZDA", "GST", "GBS", "GNS"};

// The fields after the number: those of a GGA fix, so that each sentence has a GPS sentence's length.
constexpr const char* kFixFields = ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";

// "$GPGGA," is where the number starts.
constexpr std::size_t kNumberStart = 7;

}  // namespace

std::string NumberedSentence(std::size_t types, std::size_t number)
{
    char digits[24];
    std::snprintf(digits, sizeof digits, "%08zu", number);
    return NmeaSentence(std::string("GP") + kTypes[number % types] + "," + digits + kFixFields);
}

NmeaStream NumberedStream(std::size_t types, std::size_t size)
{
    NmeaStream stream;
    for (std::size_t number = 0; stream.bytes.size() < size; ++number) {
        const std::string sentence = NumberedSentence(types, number);
        stream.bytes.insert(stream.bytes.end(), sentence.begin(), sentence.end());
        stream.lineEnds.push_back(stream.bytes.size());
    }
    return stream;
}

std::optional<std::size_t> NumberOf(std::string_view sentence)
{
    if (!sentence.starts_with("$GP") || sentence.size() <= kNumberStart || sentence[kNumberStart - 1] != ',') {
        return std::nullopt;
    }
    std::size_t number = 0;
    const char* first = sentence.data() + kNumberStart;
    const auto [end, error] = std::from_chars(first, sentence.data() + sentence.size(), number);
    if (error != std::errc{} || end == first || end == sentence.data() + sentence.size() || *end != ',') {
        return std::nullopt;
    }
    return number;
}

MqttReceipts MatchReceipts(const std::vector<Clock::time_point>& sentAt, const std::vector<MqttMessage>& messages)
{
    MqttReceipts receipts;
    std::vector<bool> received(sentAt.size(), false);
    for (const MqttMessage& message : messages) {
        const std::optional<std::size_t> number = NumberOf(message.payload);
        if (!number || *number >= sentAt.size()) {
            ++receipts.foreign;
        } else if (received[*number]) {
            ++receipts.repeated;
        } else {
            received[*number] = true;
            ++receipts.distinct;
            receipts.millis.push_back(Milliseconds(message.receivedAt - sentAt[*number]));
        }
    }
    return receipts;
}

}  // namespace tavrel::bench
