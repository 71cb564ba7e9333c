#include "bench/merge_streams.h"

#include <cstdint>
#include <cstdio>
#include <functional>

#include "bench/test_streams.h"

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

// The warm-up's numbers start here, far beyond any stream's.
constexpr std::size_t kWarmUpBase = 8'000'000;
// One AIS message in this many is a static and voyage report, sent in two fragments.
constexpr std::size_t kAisGroupEvery = 8;
// The payload characters of a first fragment.
constexpr std::size_t kFirstFragmentChars = 60;

// The bits of an AIS message, armoured six at a time into payload characters.
class AisBits {
public:
    void Put(std::uint64_t value, int bits)
    {
        for (int bit = bits - 1; bit >= 0; --bit) {
            bits_.push_back(((value >> bit) & 1u) != 0);
        }
    }
    // Six-bit ASCII, padded with '@' (which stands for nothing) to `chars`.
    void PutText(std::string_view text, std::size_t chars)
    {
        for (std::size_t i = 0; i < chars; ++i) {
            const auto c = static_cast<unsigned char>(i < text.size() ? text[i] : '@');
            Put(c >= 64 ? c - 64u : c, 6);
        }
    }
    std::size_t size() const { return bits_.size(); }
    std::string Armoured() const
    {
        std::string payload;
        for (std::size_t at = 0; at < bits_.size(); at += 6) {
            unsigned value = 0;
            for (std::size_t bit = at; bit < at + 6; ++bit) {
                value = (value << 1) | (bit < bits_.size() && bits_[bit] ? 1u : 0u);
            }
            payload += static_cast<char>(value < 40 ? '0' + value : '0' + value + 8);
        }
        return payload;
    }

private:
    std::vector<bool> bits_;
};

std::uint64_t Mmsi(std::size_t message)
{
    return 230'000'000u + message;
}

// Type 1, a class A position report: 168 bits.
AisBits PositionReport(std::size_t message)
{
    AisBits bits;
    bits.Put(1, 6);
    bits.Put(0, 2);
    bits.Put(Mmsi(message), 30);
    bits.Put(0, 4);                            // under way using engine
    bits.Put(0x80, 8);                         // no turn information
    bits.Put(102, 10);                         // 10.2 knots
    bits.Put(1, 1);
    bits.Put(14'970'000 + message % 1000, 28);   // 24.95° E, in 1/10000 minute
    bits.Put(36'102'000 + message % 997, 27);    // 60.17° N
    bits.Put(1234, 12);
    bits.Put(123, 9);
    bits.Put(message % 60, 6);
    bits.Put(0, 2 + 3 + 1 + 19);
    return bits;
}

// Type 5, static and voyage data: 424 bits, its destination ending in the
// message's number, so that its second fragment is one of a kind too.
AisBits StaticReport(std::size_t message)
{
    AisBits bits;
    bits.Put(5, 6);
    bits.Put(0, 2);
    bits.Put(Mmsi(message), 30);
    bits.Put(0, 2);
    bits.Put(9'000'000 + message % 1'000'000, 30);
    bits.PutText("OH2BNC", 7);
    bits.PutText("BENCH VESSEL", 20);
    bits.Put(70, 8);                           // cargo ship
    bits.Put(100, 9);
    bits.Put(20, 9);
    bits.Put(10, 6);
    bits.Put(10, 6);
    bits.Put(1, 4);                            // GPS
    bits.Put(6, 4);
    bits.Put(15, 5);
    bits.Put(12, 5);
    bits.Put(0, 6);
    bits.Put(75, 8);                           // 7.5 m
    char destination[24];
    std::snprintf(destination, sizeof destination, "TALLINN     %08zu", message % 100'000'000);
    bits.PutText(destination, 20);
    bits.Put(0, 2);
    return bits;
}

std::string AisSentence(std::size_t count, std::size_t number, const std::string& id, char channel,
                        const std::string& payload, std::size_t fillBits)
{
    return NmeaSentence("AIVDM," + std::to_string(count) + "," + std::to_string(number) + "," + id + "," + channel +
                            "," + payload + "," + std::to_string(fillBits),
                        '!');
}

std::vector<std::string> AisMessage(std::size_t message)
{
    const char channel = message % 2 == 0 ? 'A' : 'B';
    if (message % kAisGroupEvery != kAisGroupEvery - 1) {
        return {AisSentence(1, 1, "", channel, PositionReport(message).Armoured(), 0)};
    }
    const AisBits bits = StaticReport(message);
    const std::string payload = bits.Armoured();
    const std::string id = std::to_string(message / kAisGroupEvery % 10);
    return {AisSentence(2, 1, id, channel, payload.substr(0, kFirstFragmentChars), 0),
            AisSentence(2, 2, id, channel, payload.substr(kFirstFragmentChars), payload.size() * 6 - bits.size())};
}

// A cycle of four a second: $GPGGA at its second and $GPRMC a hundredth
// later, then $GPGSA (its dilutions of precision) and $GPGSV (its azimuths)
// numbered by the second.
std::vector<std::string> GpsSentence(std::size_t number)
{
    const std::size_t cycle = number / 4;
    const auto digits = [&](std::size_t divisor, std::size_t modulo) {
        return static_cast<unsigned>(cycle / divisor % modulo);
    };
    char body[96];
    switch (number % 4) {
    case 0:
    case 1: return {NmeaSentence(GpsBody(cycle * 100 + number % 4))};
    case 2:
        std::snprintf(body, sizeof body, "GPGSA,A,3,04,05,09,12,24,,,,,,,,1.%02u,0.%02u,1.%02u", digits(1, 100),
                      digits(100, 100), digits(10'000, 100));
        break;
    default:
        std::snprintf(body, sizeof body, "GPGSV,1,1,04,04,45,%03u,42,05,30,%03u,40,09,15,%03u,38,12,60,090,35",
                      digits(1, 360), digits(360, 360), digits(129'600, 360));
    }
    return {NmeaSentence(body)};
}

// $WIMWV (its angle and speed) and $SDDPT (its depth) in turn, numbered.
std::vector<std::string> WindSentence(std::size_t number)
{
    const auto n = static_cast<unsigned>(number / 2);
    char body[64];
    if (number % 2 == 0) {
        std::snprintf(body, sizeof body, "WIMWV,%03u.%u,R,%u,N,A", n % 3600 / 10, n % 10, n / 3600 % 1000);
    } else {
        std::snprintf(body, sizeof body, "SDDPT,%u.%02u,0.5", n / 100, n % 100);
    }
    return {NmeaSentence(body)};
}

std::vector<std::string> Message(MergeSource source, std::size_t number)
{
    switch (source) {
    case MergeSource::Gps: return GpsSentence(number);
    case MergeSource::Ais: return AisMessage(number);
    case MergeSource::Wind: return WindSentence(number);
    }
    return {};
}

double LineBytesPerSecond(MergeSource source)
{
    return source == MergeSource::Gps ? 480.0 : 3840.0;   // 4800 and 38400 baud
}

}  // namespace

const char* NameOf(MergeSource source)
{
    return source == MergeSource::Gps ? "GPS" : source == MergeSource::Ais ? "AIS" : "wind";
}

SourceStream StreamOf(MergeSource source, std::chrono::seconds length)
{
    SourceStream stream;
    stream.source = source;
    std::size_t lineBytes = 0;
    for (std::size_t number = 0;; ++number) {
        const std::vector<std::string> message = Message(source, number);
        for (std::size_t i = 0; i < message.size(); ++i) {
            lineBytes += message[i].size();
            const std::chrono::nanoseconds due =
                source == MergeSource::Wind
                    ? std::chrono::nanoseconds(10ms) * static_cast<long>(stream.sentences.size() + 1)
                    : std::chrono::nanoseconds(static_cast<long>(static_cast<double>(lineBytes) /
                                                                 LineBytesPerSecond(source) * 1e9));
            if (due > length) {
                return stream;
            }
            stream.sentences.push_back(message[i]);
            stream.due.push_back(due);
            stream.opensGroup.push_back(i + 1 < message.size());
        }
    }
}

std::string WarmUpSentence(MergeSource source, std::size_t k)
{
    // A multiple of 8: a $GPGGA, a single-sentence AIS message, a $WIMWV.
    return Message(source, kWarmUpBase + k * kAisGroupEvery).front();
}

std::optional<MergeSource> TalkerSource(std::string_view line)
{
    if (line.starts_with("$GP")) {
        return MergeSource::Gps;
    }
    if (line.starts_with("!AI")) {
        return MergeSource::Ais;
    }
    if (line.starts_with("$WI") || line.starts_with("$SD")) {
        return MergeSource::Wind;
    }
    return std::nullopt;
}

bool WellFormedSentence(std::string_view line)
{
    const std::size_t star = line.rfind('*');
    if (line.size() < 6 || (line[0] != '$' && line[0] != '!') || !line.ends_with("\r\n") ||
        star != line.size() - 5) {
        return false;
    }
    unsigned checksum = 0;
    for (const char c : line.substr(1, star - 1)) {
        checksum ^= static_cast<unsigned char>(c);
    }
    char expected[3];
    std::snprintf(expected, sizeof expected, "%02X", checksum);
    return line.substr(star + 1, 2) == expected;
}

}  // namespace tavrel::bench
