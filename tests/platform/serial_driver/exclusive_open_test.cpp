// A port holds its tty exclusively only while it is open: however the open
// ends (closed, or its device deactivated under it), another user's program
// can open the tty afterwards. A pseudo-terminal shows it, since its tty
// lives on while the far end holds its master.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/comm.h"
#include "platform/devices.h"
#include "platform/kernel.h"
#include "serial_driver_fixture.h"
#include "support/another_user.h"
#include "support/test_device.h"

namespace tavrel::testing {
namespace {

constexpr const char* kBusy = "Device or resource busy";

// Only the exclusive mode may keep another user out.
void OpenToEveryone(const std::string& path)
{
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0) << path;
}

TEST_F(SerialDriver, AnotherUserIsKeptOutWhileThePortIsOpenAndLetInOnceItIsClosed)
{
    OpenToEveryone(pty_.slavePath());
    const OpenAttempt meanwhile = OpenAsAnotherUser(pty_.slavePath());
    EXPECT_FALSE(meanwhile.opened);
    EXPECT_NE(meanwhile.error.find(kBusy), std::string::npos) << meanwhile.error;

    EXPECT_EQ(driver_.PreClose(open_), TRUE);
    EXPECT_EQ(driver_.Close(open_), TRUE);
    open_ = 0;
    const OpenAttempt after = OpenAsAnotherUser(pty_.slavePath());
    EXPECT_TRUE(after.opened) << after.error;

    // And once more: a second open of the port is exclusive again.
    OpenPort();
    EXPECT_FALSE(OpenAsAnotherUser(pty_.slavePath()).opened);
}

TEST(SerialDeactivation, APortDeactivatedWhileOpenLetsAnotherUserIn)
{
    PtyPair receiver;
    OpenToEveryone(receiver.slavePath());
    TestDevice device;
    HANDLE active = device.ActivateBuiltInPort(u"Gps", 1, receiver.slavePath());
    ASSERT_NE(active, nullptr);
    HANDLE port = CreateFileW(u"COM1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(OpenAsAnotherUser(receiver.slavePath()).opened);

    EXPECT_TRUE(DeactivateDevice(active));
    const OpenAttempt after = OpenAsAnotherUser(receiver.slavePath());
    EXPECT_TRUE(after.opened) << after.error;
    CloseHandle(port);
}

}  // namespace
}  // namespace tavrel::testing
