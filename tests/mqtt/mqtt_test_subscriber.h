// A subscriber of a test's own to an MQTT broker on the loopback address:
// every message it gets, in order.
#pragma once

#include <mosquitto.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace tavrel::testing {

struct MqttMessage {
    std::string topic;
    std::string payload;
    bool operator==(const MqttMessage&) const = default;
    friend void PrintTo(const MqttMessage& message, std::ostream* out) { *out << message.topic << " " << message.payload; }
};

// Subscribes to `filter` ("nmea/boat1/#") with QoS 1 on libmosquitto's own
// thread, and records every message.
class MqttSubscriber {
public:
    MqttSubscriber(std::uint16_t port, const std::string& filter, const char* user = nullptr,
                   const char* password = nullptr);
    ~MqttSubscriber();
    MqttSubscriber(const MqttSubscriber&) = delete;
    MqttSubscriber& operator=(const MqttSubscriber&) = delete;

    // Whether the broker has taken the subscription.
    bool subscribed() const { return subscribed_; }
    std::vector<MqttMessage> messages() const;

private:
    void Record(const mosquitto_message& message);

    std::string filter_;
    mosquitto* client_ = nullptr;
    std::atomic<bool> subscribed_{false};
    mutable std::mutex lock_;
    std::vector<MqttMessage> messages_;
};

}  // namespace tavrel::testing
