// The "Split" mask: what the settings store writes at exit is what the
// autostart replay reads back at the next start, up to the outputs' order.
#include <gtest/gtest.h>

#include "settings/split_mask.h"

namespace {

TEST(SplitMask, TheDocumentedValues)
{
    EXPECT_EQ(EncodeSplit({2, 5}), 72u);
    EXPECT_EQ(EncodeSplit({0, 9}), (1u << 1) | (1u << 10));
    EXPECT_EQ(EncodeSplit({}), 0u);
    EXPECT_EQ(DecodeSplit(72), (PortList{2, 5}));
    EXPECT_EQ(DecodeSplit(0), PortList{});
}

// Every set of outputs 0 to 9, chosen from the highest down, comes back as
// the same numbers in ascending order.
TEST(SplitMask, EverySetOfOutputsComesBackInAscendingOrder)
{
    for (unsigned set = 0; set < (1u << 10); ++set) {
        PortList chosen;
        for (int n = 9; n >= 0; --n) {
            if ((set & (1u << n)) != 0) {
                chosen.push_back(static_cast<PortNumber>(n));
            }
        }
        const PortList ascending(chosen.rbegin(), chosen.rend());
        const DWORD mask = EncodeSplit(chosen);
        ASSERT_EQ(mask, set << 1) << "set " << set;
        ASSERT_EQ(DecodeSplit(mask), ascending) << "set " << set;
    }
}

TEST(SplitMask, OnlyTheBitsOfOutputsZeroToNineAreWrittenOrRead)
{
    EXPECT_EQ(EncodeSplit({10, 31, 255}), 0u);
    EXPECT_EQ(EncodeSplit({5, 12, 5}), 1u << 6);
    EXPECT_EQ(DecodeSplit(0xFFFFFFFFu), (PortList{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(DecodeSplit(1u | (1u << 11) | (1u << 31)), PortList{});
}

}  // namespace
