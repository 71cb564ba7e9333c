// The announcer against a real Avahi daemon and system bus of the test's own,
// seen as other programs see it: through avahi-browse.
#include <gtest/gtest.h>

#include "../network/network_test_support.h"
#include "avahi_fixture.h"
#include "dns_sd/service_announcer.h"
#include "platform/debug_capture.h"

namespace tavrel::dns_sd {
namespace {

using network::testing::WaitUntil;

class ServiceAnnouncerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string why = testing::AvahiFixture::Unusable(); !why.empty()) {
            GTEST_SKIP() << why;
        }
    }
    std::unique_ptr<ServiceAnnouncer> Announce(const Service& service)
    {
        std::string failure;
        auto announcer = ServiceAnnouncer::Start(service, failure);
        EXPECT_TRUE(announcer) << failure;
        return announcer;
    }
    static bool Reaches(const ServiceAnnouncer& announcer, AnnouncerState state)
    {
        return WaitUntil([&] { return announcer.Health().state == state; });
    }
    // How many of `name` avahi-browse shows (on the address given, when one is), once it shows any.
    long Shown(const std::string& name, const std::string& address = {})
    {
        long count = 0;
        WaitUntil([&] {
            const auto all = avahi.Browse();
            count = std::ranges::count_if(
                all, [&](const auto& s) { return s.name == name && (address.empty() || s.address == address); });
            return count > 0;
        });
        return count;
    }
    const Service boat{"Tavrel on boat1", "_nmea-0183._tcp", 10110, {"version=1.20", "input=COM1"}, false};
    testing::AvahiFixture avahi;
};

TEST_F(ServiceAnnouncerTest, ShowsNamePortAndTxtOnItsInterfacesUntilDestroyed)
{
    ASSERT_TRUE(avahi.StartBus() && avahi.StartDaemon());
    auto everywhere = Announce(boat);
    auto loopback = Announce(Service{"Local", boat.type, 10111, {}, true});
    ASSERT_TRUE(everywhere && loopback && Reaches(*everywhere, AnnouncerState::Announced) &&
                Reaches(*loopback, AnnouncerState::Announced));
    EXPECT_EQ(Shown(boat.name, "10.91.0.1"), 1);
    EXPECT_EQ(Shown("Local"), 1);   // on lo alone: none on 10.91.0.1
    const auto all = avahi.Browse();
    const auto shown = std::ranges::find(all, boat.name, &testing::Browsed::name);
    ASSERT_NE(shown, all.end());
    EXPECT_EQ(shown->port, 10110);
    EXPECT_EQ(shown->txt, "\"version=1.20\" \"input=COM1\"");
    everywhere.reset();
    loopback.reset();
    EXPECT_TRUE(WaitUntil([&] { return avahi.Browse().empty(); }));
}

TEST_F(ServiceAnnouncerTest, AnnouncedAgainAfterTheDaemonAndThenTheBusRestart)
{
    ASSERT_TRUE(avahi.StartBus() && avahi.StartDaemon());
    auto announcer = Announce(boat);
    ASSERT_TRUE(announcer && Reaches(*announcer, AnnouncerState::Announced));
    avahi.StopDaemon();
    ASSERT_TRUE(Reaches(*announcer, AnnouncerState::NoDaemon));
    ASSERT_TRUE(avahi.StartDaemon());
    EXPECT_TRUE(Reaches(*announcer, AnnouncerState::Announced));
    EXPECT_TRUE(Shown(boat.name));
    avahi.StopDaemon();   // and the bus under it, which leaves the client disconnected for good
    avahi.StopBus();
    ASSERT_TRUE(WaitUntil([&] { return announcer->Health().failure.starts_with("no system bus"); }));
    ASSERT_TRUE(avahi.StartBus() && avahi.StartDaemon());
    EXPECT_TRUE(Reaches(*announcer, AnnouncerState::Announced));
    EXPECT_TRUE(Shown(boat.name));
}

TEST_F(ServiceAnnouncerTest, SecondOfTheSameNameTakesAnAlternativeAndBothShow)
{
    ASSERT_TRUE(avahi.StartBus() && avahi.StartDaemon());
    auto first = Announce(boat);
    ASSERT_TRUE(first && Reaches(*first, AnnouncerState::Announced));
    Service another = boat;
    another.port = 10111;   // another server: the very same records would be one service, not a conflict
    auto second = Announce(another);
    ASSERT_TRUE(second && Reaches(*second, AnnouncerState::Announced));
    EXPECT_EQ(first->Health().name, boat.name);
    EXPECT_EQ(second->Health().name, boat.name + " #2");
    EXPECT_TRUE(Shown(boat.name) && Shown(boat.name + " #2"));
}

TEST_F(ServiceAnnouncerTest, WithNoBusNorDaemonWaitsSaysSoOnceAndIsAnnouncedWhenTheyCome)
{
    platform::DebugOutputCapture debug;
    auto announcer = Announce(boat);
    ASSERT_TRUE(announcer);
    EXPECT_EQ(announcer->Health().state, AnnouncerState::NoDaemon);
    ASSERT_TRUE(avahi.StartBus());
    EXPECT_TRUE(WaitUntil([&] { return announcer->Health().failure == "no Avahi daemon on the system bus"; }));
    ASSERT_TRUE(avahi.StartDaemon());
    EXPECT_TRUE(Reaches(*announcer, AnnouncerState::Announced));
    EXPECT_TRUE(Shown(boat.name));
    const auto said = [](const auto& line) { return line.find(u"waits for an Avahi daemon") != line.npos; };
    EXPECT_EQ(std::ranges::count_if(debug.Lines(), said), 1);
}

}  // namespace
}  // namespace tavrel::dns_sd
