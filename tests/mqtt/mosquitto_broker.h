// Debian's mosquitto broker, run for one test on loopback ports of its own,
// and a subscriber that records what the broker passes on.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace tavrel::mqtt::testing {

inline constexpr const char* kBrokerProgram = "/usr/sbin/mosquitto";

struct BrokerSetup {
    std::uint16_t port = 0;          // plain MQTT on 127.0.0.1
    std::uint16_t tlsPort = 0;       // 0: none; else TLS with tlsFolder's server.crt and server.key
    std::filesystem::path tlsFolder;
    // Empty: anyone may connect; else only the users in this file (mosquitto_passwd's).
    std::filesystem::path passwordFile;
};

class MosquittoBroker {
public:
    // Writes the broker's configuration into `folder`, starts it and waits
    // until its ports take connections.
    MosquittoBroker(const std::filesystem::path& folder, const BrokerSetup& setup);
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    bool running() const { return pid_ > 0; }
    void Stop();
    // Starts it again on the same ports; true once they take connections.
    bool Start();
    std::string Log() const;

private:
    std::filesystem::path config_;
    std::filesystem::path log_;
    BrokerSetup setup_;
    pid_t pid_ = -1;
};

// A test CA and a certificate for 127.0.0.1 that it signed, made by openssl
// into `folder` (ca.crt, server.crt, server.key); false when openssl failed.
bool MakeTestCertificates(const std::filesystem::path& folder);

// A mosquitto_passwd password file in `folder` with one user.
std::filesystem::path MakePasswordFile(const std::filesystem::path& folder, const std::string& user,
                                       const std::string& password);

struct Message {
    std::string topic;
    std::string payload;
    bool operator==(const Message&) const = default;
};

// A client of the broker, on libmosquitto's own thread, that subscribes to
// `filter` with QoS 1 and records every message in order.
class Subscriber {
public:
    Subscriber(std::uint16_t port, const std::string& filter, const std::string& user = {},
               const std::string& password = {});
    ~Subscriber();
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    // Once the broker acknowledged the subscription.
    bool subscribed() const { return subscribed_; }
    std::size_t count() const;
    std::vector<Message> messages() const;

private:
    static void OnConnect(mosquitto* client, void* owner, int code);
    static void OnSubscribe(mosquitto* client, void* owner, int mid, int count, const int* granted);
    static void OnMessage(mosquitto* client, void* owner, const mosquitto_message* message);

    std::string filter_;
    mosquitto* client_ = nullptr;
    std::atomic<bool> subscribed_{false};
    mutable std::mutex lock_;
    std::vector<Message> messages_;
};

}  // namespace tavrel::mqtt::testing
