// The streams sent hold no zero byte (the relay stops a chunk there), and
// the NMEA sentences are well formed.
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "bench/test_streams.h"

namespace {

using namespace tavrel::bench;

TEST(TestStreams, ThePatternHasNoZeroAndShowsAnyShift)
{
    const std::vector<unsigned char> pattern = PositionPattern(100'000);
    EXPECT_EQ(std::count(pattern.begin(), pattern.end(), 0), 0);
    EXPECT_EQ(pattern, PositionPattern(100'000));
    // A stream shifted by a lost chunk of any size still matches in only a
    // few places (about 1 in 255), so the loss shows at once.
    for (const std::size_t shift : {1u, 100u, 255u, 4096u}) {
        std::size_t alike = 0;
        for (std::size_t i = 0; i + shift < 10'000; ++i) {
            alike += pattern[i] == pattern[i + shift] ? 1u : 0u;
        }
        EXPECT_LT(alike, 100u) << "shift " << shift;
    }
}

TEST(TestStreams, ASentenceCarriesItsChecksum)
{
    // The checksum of the textbook $GPGGA example is 47.
    EXPECT_EQ(NmeaSentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"),
              "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
}

TEST(TestStreams, SentencesAreWholeDistinctLines)
{
    const NmeaStream stream = NmeaSentences(5000);
    ASSERT_GE(stream.bytes.size(), 5000u);
    ASSERT_EQ(stream.lineEnds.back(), stream.bytes.size());
    EXPECT_EQ(std::count(stream.bytes.begin(), stream.bytes.end(), 0), 0);
    std::size_t start = 0;
    std::string previous;
    for (const std::size_t end : stream.lineEnds) {
        const std::string line(stream.bytes.begin() + static_cast<std::ptrdiff_t>(start),
                               stream.bytes.begin() + static_cast<std::ptrdiff_t>(end));
        ASSERT_EQ(line.front(), '$');
        ASSERT_EQ(line.substr(line.size() - 2), "\r\n");
        const std::size_t star = line.find('*');
        EXPECT_EQ(NmeaSentence(line.substr(1, star - 1)), line);
        EXPECT_NE(line, previous);
        previous = line;
        start = end;
    }
}

}  // namespace
