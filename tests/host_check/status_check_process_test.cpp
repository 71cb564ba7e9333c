// tavrel-status --check as a person runs it, on a device whose settings name
// a receiver of a made-up host (TAVREL_HOST_ROOT) as the main input.
#include <sys/wait.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "platform/boot.h"
#include "platform/registry_key.h"
#include "platform/strings.h"
#include "settings/setting_values.h"
#include "setup/device_setup.h"
#include "support/fake_host_tree.h"

namespace {

namespace fs = std::filesystem;
using namespace tavrel::testing;

struct Answer {
    int exitCode = -1;
    std::string output;
};

class StatusCheckTest : public ::testing::Test {
protected:
    // Maps `mainInput` as COM1, the main input, and stores `extraInput` as Input1.
    void Choose(const fs::path& mainInput, const std::u16string& extraInput)
    {
        platform::DeviceSettings settings;
        settings.deviceRoot = device_.path() / "device";
        settings.portFolder = device_.path() / "ports";
        settings.syncHostSerialPorts = false;
        ASSERT_TRUE(platform::BootDevice(settings).ok);
        EXPECT_TRUE(tavrel::setup::MapBuiltInPort(u"Gps", 1, mainInput.string()));
        const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::OrCreate);
        EXPECT_TRUE(WriteSetting(key, Setting(SettingId::Input), DWORD{1}));
        EXPECT_TRUE(WriteSetting(key, Setting(ExtraInputSetting(1)), extraInput));
        platform::ShutdownDevice();
    }

    Answer Check() const
    {
        const std::string command = "TAVREL_DEVICE_ROOT='" + (device_.path() / "device").string() +
                                    "' TAVREL_PORT_DIR='" + (device_.path() / "ports").string() +
                                    "' TAVREL_HOST_ROOT='" + host_.root().string() + "' " TAVREL_STATUS_PATH " --check";
        Answer answer;
        FILE* status = ::popen(command.c_str(), "r");
        char buffer[4096];
        for (std::size_t n = 0; status != nullptr && (n = std::fread(buffer, 1, sizeof buffer, status)) > 0;) {
            answer.output.append(buffer, n);
        }
        const int ended = status != nullptr ? ::pclose(status) : -1;
        answer.exitCode = WIFEXITED(ended) ? WEXITSTATUS(ended) : -1;
        return answer;
    }

    TempFolder device_;
    FakeHostTree host_;
};

TEST_F(StatusCheckTest, SaysWhatStandsInTheWayOfEachSerialInputAndExitsOneUntilNothingDoes)
{
    const fs::path receiver = host_.PlugIn({"ttyACM0", "u-blox 7", "usb-u-blox_AG_u-blox_7-if00"});
    const std::string depth = (host_.dev() / "ttyUSB4").string();
    Choose(receiver, u"serial " + platform::ToUtf16(depth) + u" 4800 name=Depth");
    Answer answer = Check();
    EXPECT_EQ(answer.exitCode, 1) << answer.output;
    EXPECT_NE(answer.output.find("input 0 (COM1): " + receiver.string() + "\n  device      " +
                                 fs::canonical(host_.dev() / "ttyACM0").string() + " (4:64)\n  USB         0403:6001"),
              std::string::npos) << answer.output;
    EXPECT_NE(answer.output.find("  nothing found in the way\ninput 1 (Depth): " + depth + "\n  in the way  " + depth +
                                 " does not exist\n  fix         plugged into another port?"),
              std::string::npos) << answer.output;

    Choose(receiver, u"udp 10110");
    answer = Check();
    EXPECT_EQ(answer.exitCode, 0) << answer.output;
    EXPECT_EQ(answer.output.find("input 1"), std::string::npos) << answer.output;
}

}  // namespace
