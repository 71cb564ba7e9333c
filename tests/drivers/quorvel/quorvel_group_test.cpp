// The group that a port's pseudo-terminal is given, so that a service of
// that group may open it. Here the test process is the driver's host; other
// users and groups are tried with whole processes in the app's tests.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>

#include <gtest/gtest.h>

#include "platform/comm.h"
#include "platform/debug_capture.h"
#include "quorvel_harness.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace tavrel::testing {
namespace {

namespace fs = std::filesystem;

struct stat SlaveOf(const PortUnderTest& port)
{
    struct stat slave {};
    EXPECT_EQ(::stat(port.linkPath().c_str(), &slave), 0) << port.linkPath();
    return slave;
}

// A pty as the host makes it, for what "the modes stay" means.
struct stat AsTheHostMakesAPty()
{
    const PtyPair pty;
    struct stat slave {};
    EXPECT_EQ(::stat(pty.slavePath().c_str(), &slave), 0);
    return slave;
}

class VirtualPortGroup : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root: root may give its files to any group; other users are tried as "
                            "processes (app_process_test)";
        }
        const group* dialout = ::getgrnam("dialout");
        ASSERT_NE(dialout, nullptr) << "Debian has a group dialout";
        dialout_ = dialout->gr_gid;
    }

    gid_t dialout_ = 0;
    TempFolder folder_;
    QuorvelModule module_;
};

TEST_F(VirtualPortGroup, TheGroupGetsTheModesWhenThePortOpensForData)
{
    PortUnderTest port(module_, 2, folder_.path(), OpenedForData::Yes, "dialout");
    const struct stat slave = SlaveOf(port);
    EXPECT_EQ(slave.st_gid, dialout_);
    EXPECT_EQ(slave.st_mode & 07777, 0660u);
    EXPECT_EQ(slave.st_uid, ::geteuid()) << "the owner stays who made it";
}

TEST_F(VirtualPortGroup, WithoutAGroupOrWithOneThatDoesNotExistTheModesStayAndOneLineSaysWhy)
{
    platform::DebugOutputCapture debug;
    PortUnderTest none(module_, 1, folder_.path(), OpenedForData::Yes, "");
    PortUnderTest missing(module_, 2, folder_.path(), OpenedForData::Yes, "tavrel-no-such-group");
    PortUnderTest alsoMissing(module_, 3, folder_.path(), OpenedForData::Yes, "tavrel-no-such-group");
    const struct stat made = AsTheHostMakesAPty();
    ASSERT_NE(made.st_gid, dialout_);
    for (const PortUnderTest* port : {&none, &missing, &alsoMissing}) {
        const struct stat slave = SlaveOf(*port);
        EXPECT_EQ(slave.st_gid, made.st_gid) << port->linkPath();
        EXPECT_EQ(slave.st_mode & 07777, made.st_mode & 07777) << port->linkPath();
    }
    EXPECT_EQ(debug.Lines(),
              std::vector<std::u16string>{
                  u"quorvel COM2: the group tavrel-no-such-group does not exist; the port keeps its modes\n"})
        << "one line, not one for every port";
}

TEST_F(VirtualPortGroup, AHostThatKnowsNoGroupLeavesTheModes)
{
    FakeDeviceHost host(4, folder_.path());
    host.SetPortGroup("dialout");
    DEVICE_HOST older = *host.host();
    older.cbSize = offsetof(DEVICE_HOST, portGroup);   // made before the group was handed over
    const DRIVER_CONTEXT device = module_.entries().Init(host.registryPath(), &older);
    ASSERT_NE(device, DRIVER_CONTEXT{0});
    const DRIVER_CONTEXT open = module_.entries().Open(device, GENERIC_WRITE, 0);
    ASSERT_NE(open, DRIVER_CONTEXT{0});
    struct stat slave {};
    EXPECT_EQ(::stat((folder_.path() / "COM4").c_str(), &slave), 0);
    EXPECT_EQ(slave.st_gid, AsTheHostMakesAPty().st_gid);
    module_.entries().Close(open);
    module_.entries().Deinit(device);
}

}  // namespace
}  // namespace tavrel::testing
