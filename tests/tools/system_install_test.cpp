// The installer's part for the whole machine, run as root: the tmpfiles.d
// entry that makes /run/tavrel at every boot, and the folder itself now; and
// taking both away again. A temporary folder stands for / here, so that no
// test touches the real /etc or /run.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "child_process.h"
#include "device_processes.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kEntry =
    "# The folder for the virtual ports of Tavrel's users, made by tavrel-install --system\n"
    "d /run/tavrel 1777 root root -\n";

class SystemInstallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root: the installer's --system part is root's alone";
        }
        // Anyone could write here: a refused installer must not have even tried.
        ASSERT_EQ(::chmod(folder_.path().c_str(), 0777), 0);
    }

    fs::path Entry() const { return folder_.path() / "etc" / "tmpfiles.d" / "tavrel.conf"; }
    fs::path PortFolder() const { return folder_.path() / "run" / "tavrel"; }

    // Runs the installer with `arguments`, as `user` when given; its exit code.
    std::optional<int> Installer(const std::vector<std::string>& arguments,
                                 const std::optional<OtherUser>& user = std::nullopt,
                                 std::map<std::string, std::string> environment = {})
    {
        environment["TAVREL_SYSTEM_ROOT"] = folder_.path().string();
        const std::string name = "install" + std::to_string(++runs_);
        std::unique_ptr<ChildProcess> install =
            user ? std::make_unique<ChildProcess>(kSetpriv, SetprivArguments(*user, TAVREL_INSTALL_PATH, arguments),
                                                  environment, output_.path() / name)
                 : std::make_unique<ChildProcess>(TAVREL_INSTALL_PATH, arguments, environment, output_.path() / name);
        const std::optional<int> code = install->WaitExit(60s);
        output = install->Output();
        errors = install->Errors();
        return code;
    }

    void ExpectSoundFolder() const
    {
        struct stat folder {};
        ASSERT_EQ(::lstat(PortFolder().c_str(), &folder), 0);
        EXPECT_TRUE(S_ISDIR(folder.st_mode));
        EXPECT_EQ(folder.st_uid, 0u);
        EXPECT_EQ(folder.st_gid, 0u);
        EXPECT_EQ(folder.st_mode & 07777, 01777u);
    }

    TempFolder folder_;
    TempFolder output_;
    int runs_ = 0;
    std::string output;
    std::string errors;
};

TEST_F(SystemInstallTest, MakesTheEntryAndTheFolderAndTakesThemAwayAgain)
{
    ASSERT_EQ(Installer({"--system"}), 0) << errors;
    EXPECT_EQ(ReadWholeFile(Entry()), kEntry);
    ExpectSoundFolder();
    ASSERT_EQ(Installer({"--system"}), 0) << "again, nothing more: " << errors;
    ExpectSoundFolder();

    ASSERT_EQ(Installer({"--uninstall", "--system"}), 0) << errors;
    EXPECT_FALSE(Exists(Entry()));
    EXPECT_FALSE(Exists(PortFolder()));
    EXPECT_EQ(output, "Removed " + Entry().string() + "\nRemoved " + PortFolder().string() + "\n");
    EXPECT_EQ(Installer({"--system", "--uninstall"}), 0) << "nothing left to take away";
}

TEST_F(SystemInstallTest, WithoutSystemdTmpfilesTheFolderIsMadeDirectly)
{
    fs::create_directories(PortFolder());
    ASSERT_EQ(::chmod(PortFolder().c_str(), 0700), 0);   // left wrong by hand
    ASSERT_EQ(Installer({"--system"}, std::nullopt, {{"PATH", "/nonexistent"}}), 0) << errors;
    EXPECT_EQ(ReadWholeFile(Entry()), kEntry);
    ExpectSoundFolder();
}

TEST_F(SystemInstallTest, SomethingElseInPlaceOfTheFolderIsNotUsed)
{
    const fs::path elsewhere = folder_.path() / "elsewhere";
    fs::create_directories(elsewhere);
    fs::create_directories(PortFolder().parent_path());
    fs::create_directory_symlink(elsewhere, PortFolder());
    EXPECT_EQ(Installer({"--system"}, std::nullopt, {{"PATH", "/nonexistent"}}), 1);
    EXPECT_NE(errors.find(PortFolder().string() + " is in the way and is not a folder"), std::string::npos)
        << errors;
    struct stat target {};
    ASSERT_EQ(::stat(elsewhere.c_str(), &target), 0);
    EXPECT_NE(target.st_mode & 07777, 01777u) << "the link was not followed";
}

TEST_F(SystemInstallTest, UninstallLeavesAFolderThatStillHoldsPortsAndAChangedEntry)
{
    ASSERT_EQ(Installer({"--system"}), 0) << errors;
    fs::create_directory(PortFolder() / "alice");
    WriteWholeFile(Entry(), kEntry + "# and a note of the admin's\n");

    ASSERT_EQ(Installer({"--uninstall", "--system"}), 0) << errors;
    EXPECT_TRUE(Exists(PortFolder() / "alice"));
    EXPECT_TRUE(Exists(Entry()));
    EXPECT_NE(output.find(PortFolder().string() + " still holds the port folders of its users; left in place"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find(Entry().string() + " was changed since install; left in place"), std::string::npos)
        << output;
}

TEST_F(SystemInstallTest, AnotherUserIsRefusedAndNothingChanges)
{
    EXPECT_EQ(Installer({"--system"}, OtherUser{}), 1);
    EXPECT_NE(errors.find("needs root"), std::string::npos) << errors;
    EXPECT_FALSE(Exists(Entry()));
    EXPECT_FALSE(Exists(PortFolder()));
    EXPECT_TRUE(fs::is_empty(folder_.path()));

    ASSERT_EQ(Installer({"--system"}), 0) << errors;
    EXPECT_EQ(Installer({"--uninstall", "--system"}, OtherUser{65534, 65534, {20}}), 1);
    EXPECT_NE(errors.find("needs root"), std::string::npos) << errors;
    EXPECT_EQ(ReadWholeFile(Entry()), kEntry);
    ExpectSoundFolder();
}

TEST(SystemInstallUsage, AnUnknownCombinationIsRefusedWithTheUsage)
{
    TempFolder output;
    ChildProcess install(TAVREL_INSTALL_PATH, {"--system", "--module", "x"}, {}, output.path() / "install");
    EXPECT_EQ(install.WaitExit(60s), 2);
    EXPECT_NE(install.Errors().find("tavrel-install [--uninstall] --system"), std::string::npos) << install.Errors();
}

}  // namespace
