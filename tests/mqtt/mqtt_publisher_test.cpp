#include <fcntl.h>
#include <mosquitto.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mqtt/mqtt_publisher.h"
#include "network/network_test_support.h"
#include "testkit/loopback.h"
#include "testkit/temp_folder.h"

extern char** environ;

namespace {

using tavrel::mqtt::Publisher;
using tavrel::mqtt::PublisherHealth;
using tavrel::mqtt::PublisherOptions;
using tavrel::network::testing::WaitUntil;
using tavrel::testing::FreeLoopbackPort;
using tavrel::testing::WriteWholeFile;

constexpr const char* kBrokerProgram = "/usr/sbin/mosquitto";

std::string Listener(std::uint16_t port)
{
    return "listener " + std::to_string(port) + " 127.0.0.1\n";
}

// Debian's mosquitto with `configuration`, run for one test. Started as root
// it would become the "mosquitto" user, which may not read the test's
// folder: it stays the user that runs the test. It queues every message for
// a subscriber that falls behind (by default it would drop those past 1000).
class Broker {
public:
    Broker(const std::filesystem::path& folder, const std::string& configuration)
        : config_(folder / "mosquitto.conf"), log_(folder / "mosquitto.log")
    {
        const passwd* user = ::getpwuid(::getuid());
        WriteWholeFile(config_, "user " + std::string(user != nullptr ? user->pw_name : "root") +
                                    "\npersistence false\nlog_dest stderr\nmax_queued_messages 0\n" + configuration);
    }
    ~Broker() { Stop(); }
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    // True once it takes connections on `port`.
    bool Start(std::uint16_t port)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        std::string program = kBrokerProgram, option = "-c", config = config_.string();
        char* arguments[] = {program.data(), option.data(), config.data(), nullptr};
        const bool started = ::posix_spawn(&pid_, kBrokerProgram, &actions, nullptr, arguments, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        return started && WaitUntil([port] {
                   const int socket = tavrel::testing::ConnectLoopback(port);
                   return socket >= 0 && ::close(socket) == 0;
               });
    }

    void Stop()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    std::string Log() const { return tavrel::testing::ReadWholeFile(log_); }

private:
    std::filesystem::path config_;
    std::filesystem::path log_;
    pid_t pid_ = -1;
};

struct Message {
    std::string topic;
    std::string payload;
    bool operator==(const Message&) const = default;
    friend void PrintTo(const Message& message, std::ostream* out) { *out << message.topic << " " << message.payload; }
};

// A client that subscribes to nmea/boat1/# with QoS 1, on libmosquitto's own
// thread, and records every message in order.
class Subscriber {
public:
    explicit Subscriber(std::uint16_t port, const char* user = nullptr, const char* password = nullptr)
    {
        mosquitto_lib_init();
        client_ = mosquitto_new(nullptr, true, this);
        mosquitto_username_pw_set(client_, user, password);
        mosquitto_connect_callback_set(client_, [](mosquitto* client, void*, int code) {
            if (code == 0) {
                mosquitto_subscribe(client, nullptr, "nmea/boat1/#", 1);
            }
        });
        mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->subscribed_ = true;
        });
        mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* message) {
            static_cast<Subscriber*>(self)->Record(*message);
        });
        mosquitto_connect(client_, "127.0.0.1", port, 30);
        mosquitto_loop_start(client_);
    }
    ~Subscriber()
    {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    bool subscribed() const { return subscribed_; }
    std::vector<Message> messages() const
    {
        const std::lock_guard guard(lock_);
        return messages_;
    }

private:
    void Record(const mosquitto_message& message)
    {
        const std::lock_guard guard(lock_);
        const auto* payload = static_cast<const char*>(message.payload);
        messages_.push_back({message.topic, std::string(payload, static_cast<std::size_t>(message.payloadlen))});
    }

    mosquitto* client_ = nullptr;
    std::atomic<bool> subscribed_{false};
    mutable std::mutex lock_;
    std::vector<Message> messages_;
};

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
        if (!std::filesystem::exists(kBrokerProgram)) {
            GTEST_SKIP() << kBrokerProgram << " is not installed (Debian package mosquitto)";
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
    Broker broker(folder_.path(), Listener(port) + "allow_anonymous true\n");
    ASSERT_TRUE(broker.Start(port)) << broker.Log();
    Subscriber subscriber(port);
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
    Broker broker(folder_.path(), Listener(port) + "allow_anonymous true\n");
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
    Subscriber subscriber(port);
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
    Broker broker(folder, "allow_anonymous false\npassword_file " + (folder / "passwords").string() + "\n" +
                              Listener(port) + Listener(tlsPort) + "certfile " + (folder / "server.crt").string() +
                              "\nkeyfile " + (folder / "server.key").string() + "\n");
    ASSERT_TRUE(broker.Start(tlsPort)) << broker.Log();
    Subscriber subscriber(port, "boat", "right");
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
