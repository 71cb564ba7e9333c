// The one rule for a person's folders, which the program's default device
// and the installer's login entry both follow: $HOME, else the password
// database, and an XDG variable only when it is an absolute path.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/boot.h"
#include "platform/host/home_folder.h"

namespace {

using platform::host::HomeFolder;
using platform::host::XdgBaseFolder;
namespace fs = std::filesystem;

// Each case runs in a process of its own, so a changed environment stays there.
void Set(const char* name, const char* value)
{
    ASSERT_EQ(::setenv(name, value, 1), 0);
}

TEST(HomeFolder, IsHomeElseThePasswordDatabasesFolder)
{
    Set("HOME", "/home/someone");
    EXPECT_EQ(HomeFolder(), fs::path("/home/someone"));

    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr) << "the test's user is in the password database";
    for (const bool unset : {false, true}) {
        if (unset) {
            ASSERT_EQ(::unsetenv("HOME"), 0);
        } else {
            Set("HOME", "");
        }
        EXPECT_EQ(HomeFolder(), fs::path(user->pw_dir)) << (unset ? "unset" : "empty");
    }
}

TEST(HomeFolder, AnXdgVariableCountsOnlyWhenItIsAnAbsolutePath)
{
    Set("HOME", "/home/someone");
    Set("XDG_CONFIG_HOME", "/elsewhere/config");
    EXPECT_EQ(XdgBaseFolder("XDG_CONFIG_HOME", ".config"), fs::path("/elsewhere/config"));
    for (const char* ignored : {"", "relative/config"}) {
        Set("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(XdgBaseFolder("XDG_CONFIG_HOME", ".config"), fs::path("/home/someone/.config")) << ignored;
    }
    ASSERT_EQ(::unsetenv("XDG_CONFIG_HOME"), 0);
    EXPECT_EQ(XdgBaseFolder("XDG_CONFIG_HOME", ".config"), fs::path("/home/someone/.config"));
}

TEST(HomeFolder, TheDefaultDeviceFollowsTheSameRule)
{
    ASSERT_EQ(::unsetenv("TAVREL_DEVICE_ROOT"), 0);
    Set("HOME", "");
    Set("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(platform::DeviceSettingsFromEnvironment().deviceRoot, HomeFolder() / ".local/share/tavrel");
    Set("XDG_DATA_HOME", "/data");
    EXPECT_EQ(platform::DeviceSettingsFromEnvironment().deviceRoot, fs::path("/data/tavrel"));
}

}  // namespace
