#include <sys/stat.h>

#include <random>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mosquitto_broker.h"
#include "mqtt/mqtt_publisher.h"
#include "network/network_test_support.h"
#include "testkit/loopback.h"
#include "testkit/temp_folder.h"

namespace {

using namespace std::chrono_literals;
using tavrel::mqtt::Publisher;
using tavrel::mqtt::PublisherHealth;
using tavrel::mqtt::PublisherOptions;
using tavrel::network::testing::WaitUntil;
using tavrel::testing::FreeLoopbackPort;
using tavrel::testing::TempFolder;
using namespace tavrel::mqtt::testing;

bool BrokerInstalled()
{
    return std::filesystem::exists(kBrokerProgram);
}

BrokerSetup PlainBroker()
{
    BrokerSetup setup;
    setup.port = FreeLoopbackPort();
    return setup;
}

PublisherOptions OptionsFor(std::uint16_t port)
{
    PublisherOptions options;
    options.host = "127.0.0.1";
    options.port = port;
    options.hostName = "boat1";
    return options;
}

std::unique_ptr<Publisher> StartPublisher(const PublisherOptions& options)
{
    std::string failure;
    auto publisher = Publisher::Start(options, failure);
    EXPECT_TRUE(publisher) << failure;
    return publisher;
}

void Feed(Publisher& publisher, const std::string& text)
{
    publisher.Publish(std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
}

// The `index`th sentence of a made-up stream: RMC, GGA, AIS and a maker's own.
Message SentenceNumber(int index)
{
    const std::string number = std::to_string(index);
    switch (index % 4) {
    case 0:
        return {"nmea/boat1/GPRMC", "$GPRMC,1200" + number + ",A,4807.038,N,01131.000,E*6A"};
    case 1:
        return {"nmea/boat1/GPGGA", "$GPGGA,1200" + number + ",4807.038,N,01131.000,E,1,08,0.9*47"};
    case 2:
        return {"nmea/boat1/AIVDM", "!AIVDM,1,1,," + number + ",13u?etPv2;0n:dDPwUM1U1Cb069D,0*24"};
    default:
        return {"nmea/boat1/PGRMC", "$PGRMC," + number + "*00"};
    }
}

// The stream as a receiver sends it, with lines that are no sentence between.
std::string StreamOf(int first, int count, std::vector<Message>& expected)
{
    std::string stream = "garbage before the first line end\n";
    for (int index = first; index < first + count; ++index) {
        const Message sentence = SentenceNumber(index);
        stream += sentence.payload + (index % 2 == 0 ? "\r\n" : "\n");
        expected.push_back(sentence);
        if (index % 50 == 0) {
            stream += "$GPNOCOMMA\r\nnot a sentence\r\n\r\n";
        }
    }
    return stream;
}

// Hands `stream` to the publisher in pieces of 1 to 40 bytes, as the relay reads them.
void FeedInPieces(Publisher& publisher, const std::string& stream)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> pieceSize(1, 40);
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t size = std::min(pieceSize(random), stream.size() - at);
        Feed(publisher, stream.substr(at, size));
        at += size;
    }
}

TEST(MqttPublisher, QosOneDeliversEverySentenceInOrderFromPiecesAndSkipsOtherLines)
{
    if (!BrokerInstalled()) {
        GTEST_SKIP() << kBrokerProgram << " is not installed (Debian package mosquitto)";
    }
    TempFolder folder;
    const BrokerSetup setup = PlainBroker();
    const std::uint16_t port = setup.port;
    MosquittoBroker broker(folder.path(), setup);
    ASSERT_TRUE(broker.running()) << broker.Log();
    Subscriber subscriber(port, "nmea/boat1/#");
    ASSERT_TRUE(WaitUntil([&] { return subscriber.subscribed(); }));

    PublisherOptions options = OptionsFor(port);
    options.qos = 1;
    const auto publisher = StartPublisher(options);
    ASSERT_TRUE(publisher);
    std::vector<Message> expected;
    FeedInPieces(*publisher, StreamOf(0, 2000, expected));

    EXPECT_TRUE(WaitUntil([&] { return subscriber.count() >= expected.size(); })) << subscriber.count();
    EXPECT_TRUE(WaitUntil([&] { return publisher->Health().published == expected.size(); }));
    EXPECT_EQ(subscriber.messages(), expected);
    const PublisherHealth health = publisher->Health();
    EXPECT_TRUE(health.connected);
    EXPECT_EQ(health.published, 2000U);
    EXPECT_EQ(health.dropped, 0U);
    EXPECT_EQ(health.queuedBytes, 0U);
    EXPECT_EQ(health.failure, "");
}

TEST(MqttPublisher, DropsTheOldestWithinItsBoundWhileTheBrokerIsAwayAndResumesWhenItIsBack)
{
    if (!BrokerInstalled()) {
        GTEST_SKIP() << kBrokerProgram << " is not installed (Debian package mosquitto)";
    }
    TempFolder folder;
    const BrokerSetup setup = PlainBroker();
    const std::uint16_t port = setup.port;
    MosquittoBroker broker(folder.path(), setup);
    ASSERT_TRUE(broker.running()) << broker.Log();
    PublisherOptions options = OptionsFor(port);
    options.qos = 1;
    options.protocolVersion = 4;
    options.queueBound = 4096;
    const auto publisher = StartPublisher(options);
    ASSERT_TRUE(publisher);
    ASSERT_TRUE(WaitUntil([&] { return publisher->Health().connected; }));

    broker.Stop();
    int index = 0;
    std::size_t mostQueued = 0;
    const bool dropping = WaitUntil([&] {
        Feed(*publisher, SentenceNumber(index++).payload + "\r\n");
        const PublisherHealth health = publisher->Health();
        mostQueued = std::max(mostQueued, health.queuedBytes);
        return !health.connected && health.dropped > 0 && !health.failure.empty();
    });
    EXPECT_TRUE(dropping) << "connected " << publisher->Health().connected << ", dropped " << publisher->Health().dropped;
    EXPECT_GT(mostQueued, 0U);
    EXPECT_LE(mostQueued, options.queueBound);
    EXPECT_NE(publisher->Health().failure.find("MQTT broker 127.0.0.1:" + std::to_string(port)), std::string::npos)
        << publisher->Health().failure;

    ASSERT_TRUE(broker.Start()) << broker.Log();
    Subscriber subscriber(port, "nmea/boat1/#");
    ASSERT_TRUE(WaitUntil([&] { return subscriber.subscribed(); }));
    EXPECT_TRUE(WaitUntil([&] { return publisher->Health().connected; })) << publisher->Health().failure;
    const Message after{"nmea/boat1/GPGGA", "$GPGGA,after the broker came back,*00"};
    Feed(*publisher, after.payload + "\r\n");
    EXPECT_TRUE(WaitUntil([&] {
        const std::vector<Message> received = subscriber.messages();
        return std::find(received.begin(), received.end(), after) != received.end();
    }));
    EXPECT_EQ(publisher->Health().queuedBytes, 0U);
    EXPECT_EQ(publisher->Health().failure, "");
}

TEST(MqttPublisher, TlsWithUserAndPasswordAndTheirRefusals)
{
    if (!BrokerInstalled()) {
        GTEST_SKIP() << kBrokerProgram << " is not installed (Debian package mosquitto)";
    }
    TempFolder folder;
    ASSERT_TRUE(MakeTestCertificates(folder.path())) << tavrel::testing::ReadWholeFile(folder.path() / "openssl.log");
    const BrokerSetup setup{.port = FreeLoopbackPort(), .tlsPort = FreeLoopbackPort(), .tlsFolder = folder.path(),
                            .passwordFile = MakePasswordFile(folder.path(), "boat", "right")};
    ASSERT_FALSE(setup.passwordFile.empty());
    MosquittoBroker broker(folder.path(), setup);
    ASSERT_TRUE(broker.running()) << broker.Log();
    Subscriber subscriber(setup.port, "nmea/boat1/#", "boat", "right");
    ASSERT_TRUE(WaitUntil([&] { return subscriber.subscribed(); }));

    const std::filesystem::path credentials = folder.path() / "credentials";
    tavrel::testing::WriteWholeFile(credentials, "boat\nright\n");
    ::chmod(credentials.c_str(), 0600);
    PublisherOptions options = OptionsFor(setup.tlsPort);
    options.caFile = (folder.path() / "ca.crt").string();
    options.credentialsFile = credentials.string();
    const auto publisher = StartPublisher(options);
    ASSERT_TRUE(publisher);
    std::vector<Message> expected;
    FeedInPieces(*publisher, StreamOf(0, 20, expected));
    EXPECT_TRUE(WaitUntil([&] { return subscriber.count() >= expected.size(); })) << publisher->Health().failure;
    EXPECT_EQ(subscriber.messages(), expected);

    const std::filesystem::path wrong = folder.path() / "wrong";
    tavrel::testing::WriteWholeFile(wrong, "boat\nwrong\n");
    ::chmod(wrong.c_str(), 0600);
    options.credentialsFile = wrong.string();
    const auto refused = StartPublisher(options);
    ASSERT_TRUE(refused);
    // mosquitto answers a wrong password with "not authorised" rather than "bad user name or password".
    const std::string refusal =
        "MQTT broker 127.0.0.1:" + std::to_string(setup.tlsPort) + " refused the connection: not authorised";
    EXPECT_TRUE(WaitUntil([&] { return refused->Health().failure == refusal; })) << refused->Health().failure;
    EXPECT_FALSE(refused->Health().connected);

    ::chmod(credentials.c_str(), 0644);
    options.credentialsFile = credentials.string();
    std::string failure;
    EXPECT_FALSE(Publisher::Start(options, failure));
    EXPECT_EQ(failure, "MQTT: credentials file " + credentials.string() + " is readable by others: chmod 600 " +
                           credentials.string());
}

}  // namespace
