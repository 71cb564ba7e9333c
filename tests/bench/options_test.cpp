// The command line: the full mode by default, --quick for trying, and
// nothing half-understood.
#include <gtest/gtest.h>

#include "bench/options.h"

namespace {

using tavrel::bench::ParseOptions;

TEST(Options, TheFullModeIsTheDefaultAndQuickIsShorter)
{
    std::string error;
    const auto full = ParseOptions({}, error);
    const auto quick = ParseOptions({"--quick"}, error);
    ASSERT_TRUE(full && quick);
    EXPECT_EQ(full->runs, 3);
    EXPECT_EQ(full->neverReadSeconds, 60);
    EXPECT_LT(quick->runs, full->runs);
    EXPECT_LT(quick->plan.latencySamples, full->plan.latencySamples);
    EXPECT_LT(quick->plan.throughputBytes, full->plan.throughputBytes);
    EXPECT_LT(quick->neverReadSeconds, full->neverReadSeconds);
}

TEST(Options, LengthsCanBeChangedInEitherMode)
{
    std::string error;
    const auto options = ParseOptions({"--runs", "5", "--never-read-seconds", "30", "--quick", "--no-realistic"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->runs, 5);
    EXPECT_EQ(options->neverReadSeconds, 30);
    EXPECT_TRUE(options->quick);
    EXPECT_FALSE(options->realistic);
}

TEST(Options, TheNetworkSectionCanBeRunAloneOrLeftOut)
{
    std::string error;
    const auto both = ParseOptions({}, error);
    const auto networkOnly = ParseOptions({"--network-only", "--network-seconds", "12"}, error);
    const auto serialOnly = ParseOptions({"--no-network", "--quick"}, error);
    ASSERT_TRUE(both && networkOnly && serialOnly) << error;
    EXPECT_TRUE(both->serial && both->network);
    EXPECT_EQ(both->networkSeconds, 30);
    EXPECT_LT(serialOnly->networkSeconds, both->networkSeconds);
    EXPECT_FALSE(networkOnly->serial);
    EXPECT_TRUE(networkOnly->network);
    EXPECT_EQ(networkOnly->networkSeconds, 12);
    EXPECT_TRUE(serialOnly->serial);
    EXPECT_FALSE(serialOnly->network);
    EXPECT_FALSE(ParseOptions({"--network-only", "--no-network"}, error));
    EXPECT_NE(error.find("nothing to measure"), std::string::npos);
}

TEST(Options, TheShapeSectionCanBeRunAloneOrLeftOut)
{
    std::string error;
    const auto full = ParseOptions({}, error);
    const auto shapeOnly = ParseOptions({"--shape-only", "--shape-seconds", "7"}, error);
    const auto noShape = ParseOptions({"--no-shape", "--quick"}, error);
    const auto mergeOnly = ParseOptions({"--merge-only"}, error);
    ASSERT_TRUE(full && shapeOnly && noShape && mergeOnly) << error;
    EXPECT_TRUE(full->shape);
    EXPECT_LT(noShape->shapeSeconds, full->shapeSeconds);
    EXPECT_TRUE(shapeOnly->shape);
    EXPECT_FALSE(shapeOnly->serial || shapeOnly->network || shapeOnly->merge);
    EXPECT_EQ(shapeOnly->shapeSeconds, 7);
    EXPECT_FALSE(noShape->shape);
    EXPECT_TRUE(noShape->serial && noShape->network && noShape->merge);
    EXPECT_FALSE(mergeOnly->shape);
    EXPECT_FALSE(ParseOptions({"--shape-only", "--no-shape"}, error));
}

TEST(Options, ANumberThatIsNotOneOrAnUnknownWordIsRefused)
{
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"--runs"}, {"--runs", "0"}, {"--runs", "3x"}, {"--never-read-seconds", "-1"},
             {"--network-seconds", "0"}, {"--shape-seconds", "0"}, {"--fast"}}) {
        std::string error;
        EXPECT_FALSE(ParseOptions(arguments, error)) << arguments.front();
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
