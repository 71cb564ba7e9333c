// The port folder when the device's settings name none: the person's own
// folder inside the machine's system port folder when that is sound (a real
// folder, root's, sticky), else the device's ports/ with one line saying why.
// Nothing that belongs to someone else is followed or written into. The
// system folder here is a temporary one in its place.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/boot.h"
#include "platform/comm.h"
#include "platform/devices.h"
#include "platform/kernel.h"
#include "testkit/temp_folder.h"
#include "setup/device_setup.h"

namespace {

using namespace tavrel::testing;
namespace fs = std::filesystem;

constexpr uid_t kSomeoneElse = 65534;

bool Exists(const fs::path& path)
{
    return fs::exists(fs::symlink_status(path));
}

std::string UserName()
{
    const passwd* user = ::getpwuid(::geteuid());
    return user != nullptr ? user->pw_name : "";
}

class DefaultPortFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root: the system port folder is root's, and the faults are folders of "
                            "other users";
        }
        settings_.deviceRoot = folder_.path() / "device";
        settings_.systemPortFolder = folder_.path() / "run-tavrel";
        settings_.syncHostSerialPorts = false;
    }
    void TearDown() override { platform::ShutdownDevice(); }

    // A system folder as `tavrel-install --system` makes it.
    void MakeSystemFolder(mode_t mode = 01777, uid_t owner = 0) const
    {
        fs::create_directory(system());
        ASSERT_EQ(::chmod(system().c_str(), mode), 0);
        ASSERT_EQ(::chown(system().c_str(), owner, 0), 0);
    }

    // Boots the device and opens COM2 for data; the folder of its link.
    fs::path LinkFolderAfterBoot()
    {
        const platform::BootResult boot = platform::BootDevice(settings_);
        problems_ = boot.problems;
        EXPECT_TRUE(boot.ok);
        // A module stays loaded once used: its file is copied only the first time.
        installed_ = installed_ || tavrel::setup::InstallVirtualPortDriver(QUORVEL_MODULE_PATH);
        EXPECT_TRUE(installed_);
        EXPECT_TRUE(tavrel::setup::WriteVirtualPortKey(2));
        const HANDLE port = ActivateDeviceEx(u"Drivers\\quorvel2", nullptr, 0, nullptr);
        EXPECT_NE(port, nullptr);
        const HANDLE data = CreateFileW(u"COM2:", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        char path[512] = {};
        EXPECT_EQ(GetDeviceNodePath(u"COM2:", path, sizeof path), ERROR_SUCCESS);
        CloseHandle(data);
        DeactivateDevice(port);
        return fs::path(path).parent_path();
    }

    // The device's own folder is used and one line names the fault.
    void ExpectRefused(const fs::path& folder, const std::string& fault)
    {
        EXPECT_EQ(LinkFolderAfterBoot(), ownFolder());
        ASSERT_EQ(problems_.size(), 1u);
        EXPECT_EQ(problems_[0], folder.string() + " " + fault + "; the ports are linked in " +
                                    ownFolder().string() + " instead");
    }

    fs::path system() const { return settings_.systemPortFolder; }
    fs::path mine() const { return system() / UserName(); }
    fs::path ownFolder() const { return settings_.deviceRoot / "ports"; }

    TempFolder folder_;
    platform::DeviceSettings settings_;
    std::vector<std::string> problems_;
    bool installed_ = false;
};

TEST_F(DefaultPortFolder, WithoutASystemFolderTheDevicesOwn)
{
    EXPECT_EQ(LinkFolderAfterBoot(), ownFolder());
    EXPECT_TRUE(problems_.empty());
    EXPECT_FALSE(Exists(system()));
}

TEST_F(DefaultPortFolder, ASoundSystemFolderHoldsAFolderOfThePersonsOwn)
{
    MakeSystemFolder();
    const mode_t umask = ::umask(077);   // the folder is made readable for services whatever the umask
    EXPECT_EQ(LinkFolderAfterBoot(), mine());
    ::umask(umask);
    EXPECT_TRUE(problems_.empty());
    struct stat made {};
    ASSERT_EQ(::lstat(mine().c_str(), &made), 0);
    EXPECT_TRUE(S_ISDIR(made.st_mode));
    EXPECT_EQ(made.st_mode & 07777, 0755u);
    EXPECT_EQ(made.st_uid, ::geteuid());

    // A folder of the person's that is there already is used as it is.
    ASSERT_EQ(::chmod(mine().c_str(), 0750), 0);
    EXPECT_EQ(LinkFolderAfterBoot(), mine());
    ASSERT_EQ(::lstat(mine().c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 07777, 0750u);
}

TEST_F(DefaultPortFolder, ASystemFolderThatIsNotRootsIsRefused)
{
    MakeSystemFolder(01777, kSomeoneElse);
    ExpectRefused(system(), "is not root's");
    EXPECT_FALSE(Exists(mine())) << "nothing is written into it";
}

TEST_F(DefaultPortFolder, ASystemFolderThatIsNotStickyIsRefused)
{
    MakeSystemFolder(0777);
    ExpectRefused(system(), "is not sticky (it needs mode 1777)");
    EXPECT_FALSE(Exists(mine()));
}

TEST_F(DefaultPortFolder, ALinkInPlaceOfTheSystemFolderIsNotFollowed)
{
    const fs::path real = folder_.path() / "elsewhere";
    fs::create_directory(real);
    ASSERT_EQ(::chmod(real.c_str(), 01777), 0);
    fs::create_directory_symlink(real, system());
    ExpectRefused(system(), "is a link, not a folder");
    EXPECT_TRUE(fs::is_empty(real));
}

TEST_F(DefaultPortFolder, APersonsFolderThatIsALinkIsNotFollowed)
{
    MakeSystemFolder();
    const fs::path real = folder_.path() / "elsewhere";
    fs::create_directory(real);
    fs::create_directory_symlink(real, mine());
    ExpectRefused(mine(), "is a link or not a folder");
    EXPECT_TRUE(fs::is_empty(real));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(mine())));
}

TEST_F(DefaultPortFolder, APersonsFolderOfSomeoneElseIsNotWrittenInto)
{
    MakeSystemFolder();
    fs::create_directory(mine());
    ASSERT_EQ(::chown(mine().c_str(), kSomeoneElse, kSomeoneElse), 0);
    ExpectRefused(mine(), "belongs to someone else");
    EXPECT_TRUE(fs::is_empty(mine()));
}

TEST_F(DefaultPortFolder, AFolderNamedInTheSettingsIsUsedWhateverTheSystemFolder)
{
    MakeSystemFolder();
    settings_.portFolder = folder_.path() / "chosen";
    EXPECT_EQ(LinkFolderAfterBoot(), settings_.portFolder);
    EXPECT_TRUE(problems_.empty());
    EXPECT_FALSE(Exists(mine()));
}

// The process entry's reading of the environment.
TEST(PortSettingsFromEnvironment, AnUnsetPortFolderIsLeftToTheBootAndTheGroupIsDialoutUnlessSet)
{
    ::unsetenv("TAVREL_PORT_DIR");
    ::unsetenv("TAVREL_PORT_GROUP");
    platform::DeviceSettings settings = platform::DeviceSettingsFromEnvironment();
    EXPECT_TRUE(settings.portFolder.empty());
    EXPECT_EQ(settings.portGroup, "dialout");
    EXPECT_EQ(settings.systemPortFolder, fs::path("/run/tavrel"));

    ::setenv("TAVREL_PORT_DIR", "/somewhere/ports", 1);
    ::setenv("TAVREL_PORT_GROUP", "gpsd", 1);
    settings = platform::DeviceSettingsFromEnvironment();
    EXPECT_EQ(settings.portFolder, fs::path("/somewhere/ports"));
    EXPECT_EQ(settings.portGroup, "gpsd");

    ::setenv("TAVREL_PORT_GROUP", "", 1);
    EXPECT_EQ(platform::DeviceSettingsFromEnvironment().portGroup, "") << "set and empty: no group";
}

}  // namespace
