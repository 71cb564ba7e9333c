// Ports that a service of another user may open: Tavrel gives each port's
// pseudo-terminal to the group dialout (mode 0660) when it may, so that a
// member of that group who does not own the port (Debian's gpsd) reads it and
// anyone outside the group is refused. Other users are made with setpriv.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include "device_processes.h"
#include "testkit/pty_pair.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kSentence = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

class PortSharingTest : public AutostartDeviceTest {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root: other users and their groups are made with setpriv";
        }
        const group* dialout = ::getgrnam("dialout");
        ASSERT_NE(dialout, nullptr) << "Debian has a group dialout";
        dialout_ = dialout->gr_gid;
        AutostartDeviceTest::SetUp();
        // The port links must be reachable by others, as under /run/tavrel.
        ASSERT_EQ(::chmod(scratch().c_str(), 0755), 0);
    }

    static struct stat Slave(const fs::path& link)
    {
        struct stat slave {};
        EXPECT_EQ(::stat(link.c_str(), &slave), 0) << link;
        return slave;
    }

    // Runs `head -c count LINK` as `user` while the receiver sends sentences;
    // its exit code, and what it read in `got`.
    std::optional<int> ReadAs(const OtherUser& user, const fs::path& link, std::size_t count, std::string& got)
    {
        ChildProcess reader(kSetpriv, SetprivArguments(user, "/usr/bin/head", {"-c", std::to_string(count), link}),
                            {}, scratch() / ("reader" + std::to_string(++readers_)));
        std::optional<int> code;
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!code && std::chrono::steady_clock::now() < deadline) {
            gps().Write(std::vector<unsigned char>(kSentence.begin(), kSentence.end()));
            code = reader.WaitExit(50ms);
        }
        got = reader.Output() + reader.Errors();
        return code;
    }

    gid_t dialout_ = 0;
    int readers_ = 0;
};

TEST_F(PortSharingTest, ADialoutMemberWhoDoesNotOwnThePortReadsItAndAnOutsiderIsRefused)
{
    ChildProcess program = Run(TAVREL_PROGRAM_PATH, "program");
    ASSERT_TRUE(WaitForLinks(SavedOutputLinks())) << program.Errors();
    for (const fs::path& link : SavedOutputLinks()) {
        const struct stat slave = Slave(link);
        EXPECT_EQ(slave.st_gid, dialout_) << link;
        EXPECT_EQ(slave.st_mode & 07777, 0660u) << link;
        EXPECT_EQ(slave.st_uid, 0u) << link;
    }

    std::string got;
    ASSERT_EQ(ReadAs(OtherUser{65534, 65534, {dialout_}}, PortLink(2), 64, got), 0) << got;
    ASSERT_EQ(got.size(), 64u) << got;
    EXPECT_NE((kSentence + kSentence + kSentence).find(got), std::string::npos) << got;

    EXPECT_EQ(ReadAs(OtherUser{65534, 65534, {}}, PortLink(2), 1, got), 1);
    EXPECT_NE(got.find("Permission denied"), std::string::npos) << got;

    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(60s), 1) << program.Errors();
}

// Tavrel run by a user other than root: the ports go to dialout only when
// that user is in the group.
struct PortOwner {
    const char* name;
    OtherUser user;
    bool shared;
};

void PrintTo(const PortOwner& owner, std::ostream* out)
{
    *out << owner.name;
}

class PortOwnerTest : public PortSharingTest, public ::testing::WithParamInterface<PortOwner> {
protected:
    void SetUp() override
    {
        PortSharingTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        // The device, and the receiver, become that user's.
        for (const auto& entry : fs::recursive_directory_iterator(scratch())) {
            ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0) << entry.path();
        }
        ASSERT_EQ(::chmod(gps().slavePath().c_str(), 0666), 0);
    }

    OtherUser Owner() const
    {
        OtherUser owner = GetParam().user;
        for (gid_t& group : owner.groups) {
            group = group == 20 ? dialout_ : group;
        }
        owner.gid = owner.gid == 20 ? dialout_ : owner.gid;
        return owner;
    }
};

TEST_P(PortOwnerTest, GivesThePortsToDialoutOnlyWhenInIt)
{
    std::map<std::string, std::string> environment = Environment();
    environment.insert(kDebugLines.begin(), kDebugLines.end());
    ChildProcess program(kSetpriv, SetprivArguments(Owner(), TAVREL_PROGRAM_PATH), environment,
                         scratch() / "program");
    ASSERT_TRUE(WaitForLinks(SavedOutputLinks())) << program.Errors();
    const PtyPair asTheHostMakesIt;
    const struct stat made = Slave(asTheHostMakesIt.slavePath());
    for (const fs::path& link : SavedOutputLinks()) {
        const struct stat slave = Slave(link);
        EXPECT_EQ(slave.st_uid, 65534u) << link;
        if (GetParam().shared) {
            EXPECT_EQ(slave.st_gid, dialout_) << link;
            EXPECT_EQ(slave.st_mode & 07777, 0660u) << link;
        } else {
            EXPECT_NE(slave.st_gid, dialout_) << link;
            EXPECT_EQ(slave.st_mode & 07777, made.st_mode & 07777) << link;
        }
    }
    const std::string why = "this user is not in the group dialout; the port keeps its modes\n";
    const std::string errors = program.Errors();
    const std::size_t first = errors.find(why);
    EXPECT_EQ(first != std::string::npos, !GetParam().shared) << errors;
    if (first != std::string::npos) {
        EXPECT_EQ(errors.find(why, first + 1), std::string::npos) << "said once, not for every port: " << errors;
    }

    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(60s), 1) << program.Errors();
}

// Group 20 stands for dialout, whatever its number on the host.
INSTANTIATE_TEST_SUITE_P(Users, PortOwnerTest,
                         ::testing::Values(PortOwner{"OutsideTheGroup", {65534, 65534, {}}, false},
                                           PortOwner{"InItAsASupplementaryGroup", {65534, 65534, {20}}, true},
                                           PortOwner{"InItAsTheirOwnGroup", {65534, 20, {}}, true}),
                         [](const auto& named) { return std::string(named.param.name); });

}  // namespace
