// Nearest-rank percentiles: every figure is a sample that was measured.
#include <gtest/gtest.h>

#include "bench/percentiles.h"

namespace {

using tavrel::bench::MedianOf;
using tavrel::bench::NearestRank;
using tavrel::bench::Summarize;

TEST(Percentiles, AHundredSamplesGiveTheFiftiethAndTheNinetyNinth)
{
    std::vector<double> samples;
    for (int i = 100; i >= 1; --i) {
        samples.push_back(i);
    }
    const auto summary = Summarize(samples);
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->median, 50);
    EXPECT_EQ(summary->p99, 99);
    EXPECT_EQ(summary->max, 100);
    EXPECT_EQ(summary->count, 100u);
}

TEST(Percentiles, FewSamplesTakeTheRankAbove)
{
    EXPECT_EQ(NearestRank({7}, 0.5), 7);
    EXPECT_EQ(NearestRank({1, 2}, 0.5), 1);
    EXPECT_EQ(NearestRank({1, 2}, 0.99), 2);
    EXPECT_EQ(NearestRank({1, 2, 3}, 0.5), 2);
    // 1000 samples: the 99th percentile is the 990th, ten above it.
    std::vector<double> thousand(1000);
    for (std::size_t i = 0; i < thousand.size(); ++i) {
        thousand[i] = static_cast<double>(i + 1);
    }
    EXPECT_EQ(NearestRank(thousand, 0.99), 990);
}

TEST(Percentiles, NoSamplesGiveNoFigure)
{
    EXPECT_FALSE(Summarize({}));
    EXPECT_FALSE(MedianOf({}));
}

TEST(Percentiles, TheMedianOfRepeatedFiguresIsOneOfThem)
{
    EXPECT_EQ(MedianOf({3, 1, 2}), 2);
    EXPECT_EQ(MedianOf({4, 1, 3, 2}), 2);
}

}  // namespace
