// An input that the host refuses for lack of permission: the program shows
// its message as ever ("Unable to open input port", on stderr when headless)
// and says on stderr, without being asked for debug lines, how a person gets
// the permission. As root (who opens anything) the program runs as nobody,
// made with setpriv, and the receiver belongs to root and dialout; as another
// user the receiver is closed to everyone.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <memory>

#include <gtest/gtest.h>

#include "device_processes.h"
#include "testkit/pty_pair.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kMessageBoxLine = "Tavrel: Unable to open input port\n";

class InputPermissionTest : public AutostartDeviceTest {
protected:
    // Starts the program for whom the receiver is closed.
    std::unique_ptr<ChildProcess> RunRefused()
    {
        const std::string slave = gps().slavePath();
        if (::geteuid() != 0) {
            EXPECT_EQ(::chmod(slave.c_str(), 0), 0);
            return std::make_unique<ChildProcess>(TAVREL_PROGRAM_PATH, std::vector<std::string>{}, Environment(),
                                                  scratch() / "program");
        }
        const group* dialout = ::getgrnam("dialout");
        EXPECT_NE(dialout, nullptr) << "Debian has a group dialout";
        EXPECT_EQ(::chown(slave.c_str(), 0, dialout != nullptr ? dialout->gr_gid : 0), 0);
        EXPECT_EQ(::chmod(slave.c_str(), 0660), 0);
        EXPECT_EQ(::chmod(scratch().c_str(), 0755), 0);
        for (const auto& entry : fs::recursive_directory_iterator(scratch())) {
            EXPECT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0) << entry.path();
        }
        return std::make_unique<ChildProcess>(kSetpriv, SetprivArguments(OtherUser{}, TAVREL_PROGRAM_PATH),
                                              Environment(), scratch() / "program");
    }
};

TEST_F(InputPermissionTest, SaysHowToGetThePermissionBesideTheUnchangedMessage)
{
    std::unique_ptr<ChildProcess> program = RunRefused();
    ASSERT_TRUE(WaitForError(*program, kMessageBoxLine)) << program->Errors();
    const std::string refused = "tavrel: no permission to open " + gps().slavePath();
    const std::string advice = ::geteuid() == 0
                                   ? refused + ": add yourself to its group with `sudo usermod -aG dialout $USER`, "
                                               "then log in again\n"
                                   : refused + ": it lets in only its owner; ask the machine's administrator for access\n";
    ASSERT_TRUE(WaitForError(*program, advice)) << program->Errors();
    program->Signal(SIGTERM);
    EXPECT_TRUE(program->WaitExit(60s)) << program->Errors();
    const std::string errors = program->Errors();
    EXPECT_EQ(errors.find(advice, errors.find(advice) + 1), std::string::npos) << "said once: " << errors;
}

}  // namespace
