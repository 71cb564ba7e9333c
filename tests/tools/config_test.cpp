// tavrel-config as a person at a shell runs it: it shows what Tavrel will
// use, stores a change where Tavrel reads it, and refuses a value that is
// not one without changing anything.
#include <gtest/gtest.h>

#include "device_processes.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

class ConfigToolTest : public DeviceProcessTest {
protected:
    struct Result {
        std::optional<int> exitCode;
        std::string output;
        std::string errors;
    };

    Result Config(const std::vector<std::string>& arguments)
    {
        ChildProcess config = Run(TAVREL_CONFIG_PATH, "config" + std::to_string(++runs_), arguments);
        const std::optional<int> exitCode = config.WaitExit(60s);
        return {exitCode, config.Output(), config.Errors()};
    }

    int runs_ = 0;
};

TEST_F(ConfigToolTest, AFreshDeviceShowsWhatTavrelUsesWithoutSettings)
{
    const Result shown = Config({});
    EXPECT_EQ(shown.exitCode, 0) << shown.errors;
    EXPECT_EQ(shown.output, "reconnect    off\ngpsd         off\ngpsd-socket  /run/gpsd.sock\n");
}

TEST_F(ConfigToolTest, AChangeIsStoredWhereTavrelReadsIt)
{
    EXPECT_EQ(Config({"gpsd", "on"}).exitCode, 0);
    EXPECT_EQ(Config({"gpsd-socket", "/run/gpsd-2.sock"}).exitCode, 0);
    EXPECT_EQ(Config({"reconnect", "on"}).exitCode, 0);

    EXPECT_EQ(SavedNumber(u"GpsdHandoff"), 1u);
    EXPECT_EQ(SavedNumber(u"Reconnect"), 1u);
    EXPECT_EQ(Config({"gpsd-socket"}).output, "gpsd-socket  /run/gpsd-2.sock\n");
    EXPECT_EQ(Config({}).output, "reconnect    on\ngpsd         on\ngpsd-socket  /run/gpsd-2.sock\n");

    EXPECT_EQ(Config({"gpsd", "off"}).exitCode, 0);
    EXPECT_EQ(SavedNumber(u"GpsdHandoff"), 0u);
}

TEST_F(ConfigToolTest, WhatIsNotAValueOrASettingIsRefusedAndNothingChanges)
{
    for (const std::vector<std::string>& wrong :
         std::vector<std::vector<std::string>>{{"gpsd", "yes"},
                                               {"gpsd-socket", ""},
                                               {"gpsd-socket", "/run/" + std::string(120, 'x')},
                                               {"gpsd-socket", "/run/a\nb"},
                                               {"colour", "blue"},
                                               {"gpsd", "on", "now"}}) {
        const Result refused = Config(wrong);
        EXPECT_EQ(refused.exitCode, 2) << wrong[0];
        EXPECT_FALSE(refused.errors.empty()) << wrong[0];
    }
    EXPECT_EQ(SavedNumber(u"GpsdHandoff"), std::nullopt);
    EXPECT_EQ(Config({}).output, "reconnect    off\ngpsd         off\ngpsd-socket  /run/gpsd.sock\n");
}

}  // namespace
