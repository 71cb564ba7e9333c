#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mqtt/mqtt_publisher.h"
#include "mqtt/mqtt_test_subscriber.h"
#include "network/network_test_support.h"
#include "testkit/loopback.h"
#include "testkit/mqtt_broker.h"
#include "testkit/temp_folder.h"

namespace {

using tavrel::mqtt::Publisher;
using tavrel::mqtt::PublisherHealth;
using tavrel::mqtt::PublisherOptions;
using tavrel::network::testing::WaitUntil;
using tavrel::testing::FreeLoopbackPort;
using tavrel::testing::MqttBroker;
using tavrel::testing::MqttListener;
using tavrel::testing::WriteWholeFile;
using tavrel::testing::MqttMessage;
using tavrel::testing::MqttSubscriber;
using Message = MqttMessage;
using Subscriber = MqttSubscriber;

// A test CA and a certificate for 127.0.0.1 that it signed, made by openssl
// into `folder` (ca.crt, server.crt, server.key).
bool MakeTestCertificates(const std::filesystem::path& folder)
{
    WriteWholeFile(folder / "server.ext", "subjectAltName=IP:127.0.0.1\n");
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string script = "cd " + folder.string() + " && openssl req -x509" + key +
                               " -keyout ca.key -out ca.crt -days 2 -subj /CN=TestCA && openssl req" + key +
                               " -keyout server.key -out server.csr -subj /CN=127.0.0.1 && openssl x509 -req -in"
                               " server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt -days 2"
                               " -extfile server.ext";
    return std::system(("(" + script + ") >" + folder.string() + "/openssl.log 2>&1").c_str()) == 0;
}

PublisherOptions OptionsFor(std::uint16_t port)
{
    PublisherOptions options;
    options.host = "127.0.0.1";
    options.port = port;
    options.hostName = "boat1";
    return options;
}

// Each case runs its own broker, in a folder of its own.
class MqttPublisher : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(tavrel::testing::kMqttBrokerProgram)) {
            GTEST_SKIP() << tavrel::testing::kMqttBrokerProgram << " is not installed (Debian package mosquitto)";
        }
    }

    tavrel::testing::TempFolder folder_;
};

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

// `count` sentences with lines that are no sentence between, handed to the
// publisher in pieces of 1 to 40 bytes as the relay reads them; the sentences.
std::vector<Message> FeedStream(Publisher& publisher, int count)
{
    std::vector<Message> sentences;
    std::string stream = "garbage before the first line end\n";
    for (int index = 0; index < count; ++index) {
        sentences.push_back(SentenceNumber(index));
        stream += sentences.back().payload + (index % 2 == 0 ? "\r\n" : "\n");
        stream += index % 50 == 0 ? "$GPNOCOMMA\r\nnot a sentence\r\n\r\n" : "";
    }
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> pieceSize(1, 40);
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t size = std::min(pieceSize(random), stream.size() - at);
        Feed(publisher, stream.substr(at, size));
        at += size;
    }
    return sentences;
}

TEST_F(MqttPublisher, QosOneDeliversEverySentenceInOrderFromPiecesAndSkipsOtherLines)
{
    const std::uint16_t port = FreeLoopbackPort();
    MqttBroker broker(folder_.path(), MqttListener(port) + "allow_anonymous true\n");
    ASSERT_TRUE(broker.Start(port)) << broker.Log();
    Subscriber subscriber(port, "nmea/boat1/#");
    ASSERT_TRUE(WaitUntil([&] { return subscriber.subscribed(); }));

    PublisherOptions options = OptionsFor(port);
    options.qos = 1;
    const auto publisher = StartPublisher(options);
    ASSERT_TRUE(publisher);
    const std::vector<Message> expected = FeedStream(*publisher, 2000);
    EXPECT_TRUE(WaitUntil([&] { return subscriber.messages().size() >= expected.size(); }));
    EXPECT_TRUE(WaitUntil([&] { return publisher->Health().published == expected.size(); }));
    EXPECT_EQ(subscriber.messages(), expected);
    const PublisherHealth health = publisher->Health();
    EXPECT_TRUE(health.connected && health.failure.empty()) << health.failure;
    EXPECT_EQ(health.published, 2000U);
    EXPECT_EQ(health.dropped, 0U);
    EXPECT_EQ(health.queuedBytes, 0U);
}

TEST_F(MqttPublisher, DropsTheOldestWithinItsBoundWhileTheBrokerIsAwayAndResumesWhenItIsBack)
{
    const std::uint16_t port = FreeLoopbackPort();
    MqttBroker broker(folder_.path(), MqttListener(port) + "allow_anonymous true\n");
    ASSERT_TRUE(broker.Start(port)) << broker.Log();
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
    PublisherHealth health;
    EXPECT_TRUE(WaitUntil([&] {
        Feed(*publisher, SentenceNumber(index++).payload + "\r\n");
        health = publisher->Health();
        mostQueued = std::max(mostQueued, health.queuedBytes);
        return !health.connected && health.dropped > 0;
    })) << health.dropped;
    EXPECT_GT(mostQueued, 0U);
    EXPECT_LE(mostQueued, options.queueBound);
    EXPECT_TRUE(health.failure.starts_with("MQTT broker 127.0.0.1:" + std::to_string(port))) << health.failure;

    ASSERT_TRUE(broker.Start(port)) << broker.Log();
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

TEST_F(MqttPublisher, TlsWithUserAndPasswordAndTheirRefusals)
{
    const std::filesystem::path& folder = folder_.path();
    ASSERT_TRUE(MakeTestCertificates(folder)) << tavrel::testing::ReadWholeFile(folder / "openssl.log");
    ASSERT_EQ(std::system(("mosquitto_passwd -b -c " + (folder / "passwords").string() + " boat right").c_str()), 0);
    const std::uint16_t port = FreeLoopbackPort();
    const std::uint16_t tlsPort = FreeLoopbackPort();
    MqttBroker broker(folder, "allow_anonymous false\npassword_file " + (folder / "passwords").string() + "\n" +
                              MqttListener(port) + MqttListener(tlsPort) + "certfile " + (folder / "server.crt").string() +
                              "\nkeyfile " + (folder / "server.key").string() + "\n");
    ASSERT_TRUE(broker.Start(tlsPort)) << broker.Log();
    Subscriber subscriber(port, "nmea/boat1/#", "boat", "right");
    ASSERT_TRUE(WaitUntil([&] { return subscriber.subscribed(); }));

    const auto credentials = [&](const std::string& name, const std::string& text, std::filesystem::perms mode) {
        WriteWholeFile(folder / name, text);
        std::filesystem::permissions(folder / name, mode);
        return (folder / name).string();
    };
    using std::filesystem::perms;
    PublisherOptions options = OptionsFor(tlsPort);
    options.caFile = (folder / "ca.crt").string();
    options.credentialsFile = credentials("right", "boat\nright\n", perms::owner_read | perms::owner_write);
    const auto publisher = StartPublisher(options);
    ASSERT_TRUE(publisher);
    const std::vector<Message> expected = FeedStream(*publisher, 20);
    EXPECT_TRUE(WaitUntil([&] { return subscriber.messages().size() >= expected.size(); }))
        << publisher->Health().failure;
    EXPECT_EQ(subscriber.messages(), expected);

    options.credentialsFile = credentials("wrong", "boat\nwrong\n", perms::owner_read);
    auto refused = StartPublisher(options);
    ASSERT_TRUE(refused);
    // mosquitto answers a wrong password with "not authorised" rather than "bad user name or password".
    const std::string refusal =
        "MQTT broker 127.0.0.1:" + std::to_string(tlsPort) + " refused the connection: not authorised";
    EXPECT_TRUE(WaitUntil([&] { return refused->Health().failure == refusal; })) << refused->Health().failure;
    EXPECT_FALSE(refused->Health().connected);
    // Its thread, sleeping before the next try, stops at once: the destructor would give up on it after 500 ms.
    const auto stopping = std::chrono::steady_clock::now();
    refused.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::milliseconds(400));

    const std::string open = credentials("open", "boat\nright\n", perms::owner_read | perms::others_read);
    options.credentialsFile = open;
    std::string failure;
    EXPECT_FALSE(Publisher::Start(options, failure));
    EXPECT_EQ(failure, "MQTT: credentials file " + open + " is readable by others: chmod 600 " + open);
}

}  // namespace
