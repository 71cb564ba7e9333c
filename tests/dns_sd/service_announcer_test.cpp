// The announcer against a real Avahi daemon and system bus of the test's own,
// seen as other programs see it: through avahi-browse.
#include <gtest/gtest.h>

#include <algorithm>

#include "../network/network_test_support.h"
#include "avahi_fixture.h"
#include "dns_sd/service_announcer.h"
#include "platform/debug_capture.h"

namespace tavrel::dns_sd {
namespace {

using network::testing::WaitUntil;

constexpr const char* kVeth = "10.91.0.1";   // the address of the daemon's interface besides lo

class ServiceAnnouncerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string missing = testing::AvahiFixture::MissingProgram(); !missing.empty()) {
            GTEST_SKIP() << missing << " is not installed; these tests run a daemon and a bus of their own";
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
    // What avahi-browse shows of `name` on the interface with `address`, waiting up to 20 s for it.
    std::optional<testing::Browsed> Shown(const std::string& name, const std::string& address = "127.0.0.1")
    {
        std::optional<testing::Browsed> seen;
        WaitUntil([&] {
            for (const auto& service : avahi.Browse("_nmea-0183._tcp")) {
                seen = service.name == name && service.address == address ? service : seen;
            }
            return seen.has_value();
        });
        return seen;
    }
    const Service boat{"Tavrel on boat1", "_nmea-0183._tcp", 10110, {"version=1.20", "input=COM1"}, false};
    testing::AvahiFixture avahi;
};

TEST_F(ServiceAnnouncerTest, ShowsNamePortAndTxtOnEveryInterfaceUntilDestroyed)
{
    ASSERT_TRUE(avahi.StartBus() && avahi.StartDaemon());
    auto announcer = Announce(boat);
    ASSERT_TRUE(announcer && Reaches(*announcer, AnnouncerState::Announced));
    const auto shown = Shown(boat.name);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->port, 10110);
    EXPECT_EQ(shown->txt, "\"version=1.20\" \"input=COM1\"");
    EXPECT_TRUE(Shown(boat.name, kVeth));
    announcer.reset();
    EXPECT_TRUE(WaitUntil([&] { return avahi.Browse(boat.type).empty(); }));
}

TEST_F(ServiceAnnouncerTest, LoopbackOnlyStaysOffTheOtherInterfaces)
{
    ASSERT_TRUE(avahi.StartBus() && avahi.StartDaemon());
    Service local = boat;
    local.loopbackOnly = true;
    auto everywhere = Announce(Service{"Everywhere", boat.type, 10111, {}, false});
    auto loopback = Announce(local);
    ASSERT_TRUE(Shown("Everywhere", kVeth) && Shown(local.name));
    const auto all = avahi.Browse(boat.type);
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [&](const auto& s) { return s.name == local.name; }), 1);
}

TEST_F(ServiceAnnouncerTest, AnnouncedAgainAfterTheDaemonRestarts)
{
    ASSERT_TRUE(avahi.StartBus() && avahi.StartDaemon());
    auto announcer = Announce(boat);
    ASSERT_TRUE(announcer && Reaches(*announcer, AnnouncerState::Announced));
    avahi.StopDaemon();
    EXPECT_TRUE(Reaches(*announcer, AnnouncerState::NoDaemon));
    ASSERT_TRUE(avahi.StartDaemon());
    EXPECT_TRUE(Reaches(*announcer, AnnouncerState::Announced));
    EXPECT_TRUE(Shown(boat.name));
}

TEST_F(ServiceAnnouncerTest, SecondOfTheSameNameTakesAnAlternativeAndBothShow)
{
    ASSERT_TRUE(avahi.StartBus() && avahi.StartDaemon());
    auto first = Announce(boat);
    ASSERT_TRUE(first && Reaches(*first, AnnouncerState::Announced));
    Service another = boat;
    another.port = 10111;   // another program's server: the same records would be one service, not a conflict
    auto second = Announce(another);
    ASSERT_TRUE(second && Reaches(*second, AnnouncerState::Announced));
    EXPECT_EQ(first->Health().name, boat.name);
    EXPECT_EQ(second->Health().name, boat.name + " #2");
    EXPECT_TRUE(Shown(boat.name) && Shown(boat.name + " #2"));
}

TEST_F(ServiceAnnouncerTest, WithNoBusNorDaemonWaitsAndSaysSoOnce)
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
    const auto lines = debug.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::u16string& line) {
                  return line.find(u"waits for an Avahi daemon") != std::u16string::npos;
              }), 1);
}

}  // namespace
}  // namespace tavrel::dns_sd
