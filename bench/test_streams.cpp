#include "bench/test_streams.h"

#include <cstdint>
#include <cstdio>

namespace tavrel::bench {
namespace {

// A 64-bit mix (SplitMix64's finaliser): neighbouring positions give unrelated bytes.
std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

std::string GpsBody(std::size_t number)
{
    const std::size_t hundredths = number % (24u * 3600u * 100u);
    const auto part = [&](std::size_t divisor, std::size_t modulo) {
        return static_cast<unsigned>(hundredths / divisor % modulo);
    };
    char time[16];
    std::snprintf(time, sizeof time, "%02u%02u%02u.%02u", part(360000, 24), part(6000, 60), part(100, 60),
                  part(1, 100));
    if (number % 2 == 0) {
        return std::string("GPGGA,") + time + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
    }
    return std::string("GPRMC,") + time + ",A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W";
}

std::vector<unsigned char> PositionPattern(std::size_t size)
{
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(1 + Mix(i) % 255);
    }
    return bytes;
}

std::string NmeaSentence(const std::string& body, char lead)
{
    unsigned checksum = 0;
    for (const char c : body) {
        checksum ^= static_cast<unsigned char>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", checksum);
    return lead + body + tail;
}

NmeaStream NmeaSentences(std::size_t size)
{
    NmeaStream stream;
    for (std::size_t number = 0; stream.bytes.size() < size; ++number) {
        const std::string line = NmeaSentence(GpsBody(number));
        stream.bytes.insert(stream.bytes.end(), line.begin(), line.end());
        stream.lineEnds.push_back(stream.bytes.size());
    }
    return stream;
}

}  // namespace tavrel::bench
