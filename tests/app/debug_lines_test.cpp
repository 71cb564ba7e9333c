// The debug lines reach the program's stderr only when TAVREL_DEBUG asks for
// them (anything but nothing or "0"); a second copy's "Tavrel is already
// running..." stands for them all.
#include <csignal>

#include <gtest/gtest.h>

#include "device_processes.h"
#include "platform/debug_capture.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

const std::string kAlreadyRunning = "Tavrel is already running...\n";

TEST(DebugLinesVariable, OnlyAValueOtherThanNothingOrZeroAsks)
{
    EXPECT_FALSE(platform::DebugLinesAskedFor(nullptr));
    EXPECT_FALSE(platform::DebugLinesAskedFor(""));
    EXPECT_FALSE(platform::DebugLinesAskedFor("0"));
    EXPECT_TRUE(platform::DebugLinesAskedFor("1"));
    EXPECT_TRUE(platform::DebugLinesAskedFor("yes"));
    EXPECT_TRUE(platform::DebugLinesAskedFor("00"));
}

class DebugLinesTest : public DeviceProcessTest {
protected:
    // What a second copy said on stderr, with `debug` as TAVREL_DEBUG (unset when null).
    std::string SecondCopySays(const char* debug)
    {
        std::map<std::string, std::string> more;
        if (debug != nullptr) {
            more["TAVREL_DEBUG"] = debug;
        }
        ChildProcess second = Run(TAVREL_PROGRAM_PATH, "second" + std::to_string(++runs_), {}, nullptr, more);
        EXPECT_EQ(second.WaitExit(60s), 0) << second.Errors();
        return second.Errors();
    }

    int runs_ = 0;
};

TEST_F(DebugLinesTest, ASecondCopySaysItHandsOverOnlyWhenAsked)
{
    Install();
    ChildProcess first = Run(TAVREL_PROGRAM_PATH, "first");
    ASSERT_TRUE(WaitForMainWindow()) << first.Errors();

    EXPECT_EQ(SecondCopySays(nullptr), "");
    EXPECT_EQ(SecondCopySays(""), "");
    EXPECT_EQ(SecondCopySays("0"), "");
    EXPECT_EQ(SecondCopySays("1"), kAlreadyRunning);

    first.Signal(SIGTERM);
    EXPECT_TRUE(first.WaitExit(60s)) << first.Errors();
}

}  // namespace
