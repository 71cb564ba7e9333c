// The single-instance guard fails closed: a copy that cannot take or check it
// says so and ends, without touching the ports or the settings, however many
// copies start at once and whoever started the one that runs.
#include <unistd.h>

#include <csignal>
#include <memory>

#include <gtest/gtest.h>

#include "device_processes.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

const std::string kGuardFailure = "Tavrel: Tavrel cannot make sure that it runs only once on this device";
constexpr int kGuardFailureExit = 255;

class GuardTest : public AutostartDeviceTest {
protected:
    // The copy ended at once and said why.
    static void ExpectRefused(ChildProcess& copy)
    {
        EXPECT_EQ(copy.WaitExit(30s), kGuardFailureExit) << copy.Errors();
        EXPECT_NE(copy.Errors().find(kGuardFailure), std::string::npos) << copy.Errors();
    }
};

// The device's run/ folder cannot be made: a file stands in its place.
TEST_F(GuardTest, CopiesStartedTogetherWhereTheGuardCannotBeTakenAllEndWithTheReason)
{
    const std::string settings = ReadWholeFile(UserHive());
    std::filesystem::remove_all(root() / "run");
    WriteWholeFile(root() / "run", "not a folder");

    StartBarrier barrier;
    std::vector<std::unique_ptr<ChildProcess>> copies;
    for (int i = 0; i < 3; ++i) {
        copies.push_back(std::make_unique<ChildProcess>(TAVREL_PROGRAM_PATH, std::vector<std::string>{},
                                                        Environment(),
                                                        scratch() / ("copy" + std::to_string(i)), &barrier));
    }
    barrier.Release();
    for (auto& copy : copies) {
        ExpectRefused(*copy);
    }
    for (const auto& link : SavedOutputLinks()) {
        EXPECT_FALSE(Exists(link)) << link;
    }
    EXPECT_EQ(ReadWholeFile(UserHive()), settings);
    EXPECT_TRUE(Exists(StartupShortcut()));
}

// The running copy was started by root, so run/ is root's; a copy started by
// another user can neither take nor check the guard there.
TEST_F(GuardTest, ACopyOfAnotherUserBesideTheRunningOneEndsWithTheReasonAndLeavesItsPorts)
{
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "needs root and setpriv to start a copy as another user";
    }
    // The other user may read the device, as a shared installation allows.
    std::filesystem::permissions(scratch(), std::filesystem::perms::others_read |
                                                     std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    ChildProcess first = Run(TAVREL_PROGRAM_PATH, "first");
    ASSERT_TRUE(WaitForLinks(SavedOutputLinks())) << first.Errors();

    ChildProcess other("/usr/bin/setpriv",
                       {"--reuid=nobody", "--regid=nogroup", "--clear-groups", TAVREL_PROGRAM_PATH},
                       Environment(), scratch() / "other");
    ExpectRefused(other);
    for (const auto& link : SavedOutputLinks()) {
        EXPECT_TRUE(Exists(link)) << link;
    }

    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitExit(60s), 1) << first.Errors();
}

}  // namespace
