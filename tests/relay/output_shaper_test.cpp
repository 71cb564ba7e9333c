// Shaping an output: whole lines, checksums, filters, decimation of groups, talker rewrites.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "relay/output_shaper.h"

namespace {

const std::string kGga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
const std::string kGnGga = "$GNGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*59\r\n";
const std::string kRmc = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
const std::string kAis = "!AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL289?,0*26\r\n";
const std::vector<std::string> kSatellites{"$GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00*74\r\n",
                                           "$GPGSV,3,2,11,14,25,170,00,16,57,208,39,18,67,296,40,19,40,246,00*74\r\n",
                                           "$GPGSV,3,3,11,22,42,067,42,24,14,311,43,27,05,244,00,,,,*4D\r\n"};

std::string Feed(OutputShaper& shaper, std::string_view text, std::uint64_t nowMs)
{
    std::vector<unsigned char> out;
    shaper.Feed({reinterpret_cast<const unsigned char*>(text.data()), text.size()}, nowMs, out);
    return {out.begin(), out.end()};
}

std::string WithChecksum(const std::string& body)
{
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum);
    return "$" + body + "*" + hex;
}

TEST(OutputShaper, ChecksumOnlyAndDenyDropLinesByTheirAddress)
{
    OutputShape shape;
    shape.only = {"GGA", "$PGRM*", "!AIVDM"};
    shape.deny = {"GNGGA"};
    shape.checksum = true;
    OutputShaper shaper(shape);
    const std::string passing = kGga + "$PGRMZ,246,f,3*1b\n" + kAis;
    const std::string badChecksums = "$GPGGA,123519*47\r\n$GPGGA,123519\r\nhello\n";
    const std::string filtered = kGnGga + kRmc + "$PXGGA,1*54\r\n" + "$" + kAis.substr(1);
    EXPECT_EQ(Feed(shaper, badChecksums + filtered + passing, 0), passing);
    EXPECT_EQ(shaper.Counts(), (ShapeCounts{.lines = 3, .filtered = 4, .badChecksum = 3}));
}

TEST(OutputShaper, LinesInRandomPiecesComeOutAsWhenFedWhole)
{
    OutputShape shape;
    shape.deny = {"RMC"};
    shape.checksum = true;
    shape.talkers = {{"GP", "GN"}};
    std::string stream = std::string(5000, 'x') + "\n";
    for (std::size_t n = 0; n < 200; ++n) {
        const std::vector<std::string> lines{kRmc, kGga, "$GPGGA,1*00\r\n", kSatellites[n % 3]};
        stream += lines[n % 4];
    }
    OutputShaper whole(shape);
    OutputShaper pieces(shape);
    const std::string expected = Feed(whole, stream, 0);
    std::string received;
    std::mt19937 random(20240611);
    for (std::size_t fed = 0; fed < stream.size();) {
        const std::string_view piece = std::string_view(stream).substr(fed, random() % 40);
        received += Feed(pieces, piece, 0);
        fed += piece.size();
    }
    EXPECT_EQ(received, expected);
    EXPECT_EQ(pieces.Counts(), whole.Counts());
    EXPECT_EQ(whole.Counts(), (ShapeCounts{.lines = 100, .filtered = 50, .badChecksum = 50, .dropped = 1}));
}

TEST(OutputShaper, OverlongLineIsDroppedToItsLineFeedAndABreakDropsThePartialLine)
{
    OutputShape shape;
    shape.deny = {"RMC"};
    OutputShaper shaper(shape);
    const std::string longest(kLongestShapedLine, 'y');
    EXPECT_EQ(Feed(shaper, std::string(kLongestShapedLine + 1, 'x'), 0), "");
    EXPECT_EQ(Feed(shaper, "xx\n" + longest + "\n" + kGga, 0), longest + "\n" + kGga);
    EXPECT_EQ(Feed(shaper, "$GPGGA,1", 0), "");
    shaper.Break();
    EXPECT_EQ(Feed(shaper, ",2\n", 0), ",2\n");
    EXPECT_EQ(shaper.Counts(), (ShapeCounts{.lines = 3, .dropped = 2}));
}

TEST(OutputShaper, DecimationKeepsSatelliteGroupsWholeAndTakesTheFirstMatchingInterval)
{
    OutputShape shape;
    shape.every = {{"GSV", 1000}, {"RMC", 1000}, {"$GP*", 0}};
    OutputShaper shaper(shape);
    const std::string group = kSatellites[0] + kSatellites[1] + kSatellites[2];
    EXPECT_EQ(Feed(shaper, group + kRmc, 0), group + kRmc);
    EXPECT_EQ(Feed(shaper, kSatellites[0] + kGga + kSatellites[1] + kRmc + kSatellites[2], 999), kGga);
    EXPECT_EQ(Feed(shaper, kSatellites[1] + kSatellites[2] + group + kRmc, 1000), group + kRmc);
    EXPECT_EQ(shaper.Counts().decimated, 6u);
}

TEST(OutputShaper, TalkerRewriteMakesTheChecksumAnewAfterTheFiltersSawTheAddressAsItCame)
{
    OutputShape shape;
    shape.deny = {"GPGLL"};
    shape.talkers = {{"GN", "GP"}, {"GN", "II"}};
    OutputShaper shaper(shape);
    const std::string rmc = "RMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W";
    const std::string gll = "GLL,4916.45,N,12311.12,W,225444,A";
    EXPECT_EQ(Feed(shaper, WithChecksum("GN" + rmc) + "\r\n" + WithChecksum("GP" + gll) + "\r\n", 0), kRmc);
    EXPECT_EQ(Feed(shaper, WithChecksum("GN" + gll) + "\n$GNGGA,1\r\n", 0), WithChecksum("GP" + gll) + "\n$GPGGA,1\r\n");
    const std::string damaged = Feed(shaper, "$GNGGA,1*00\r\n", 0);
    EXPECT_TRUE(damaged.starts_with("$GPGGA,1*")) << damaged;
    EXPECT_NE(damaged, WithChecksum("GPGGA,1") + "\r\n");
}

TEST(OutputShaper, TransparentShapePassesBytesAsTheyCome)
{
    OutputShaper shaper(OutputShape{});
    EXPECT_EQ(Feed(shaper, "$GPGGA,1*00\r\nxy", 0), "$GPGGA,1*00\r\nxy");
}

}  // namespace
