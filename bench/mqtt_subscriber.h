// A subscriber of the benchmark's own: a libmosquitto client on the broker's
// loopback port, subscribed to a topic filter, that stamps each message with
// the clock the moment its callback runs on libmosquitto's network thread,
// before anything else is done with it: the latency a program subscribed to
// the stream would see.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench/mqtt_streams.h"

struct mosquitto;
struct mosquitto_message;

namespace tavrel::bench {

class MqttSubscriber {
public:
    // Connects to 127.0.0.1:port and subscribes to `filter` with `qos`;
    // throws std::runtime_error when the broker has not granted the
    // subscription within 10 s. After a lost connection it connects and
    // subscribes again by itself, once a second.
    MqttSubscriber(std::uint16_t port, const std::string& filter, int qos);
    ~MqttSubscriber();
    MqttSubscriber(const MqttSubscriber&) = delete;
    MqttSubscriber& operator=(const MqttSubscriber&) = delete;

    // The messages received and not yet taken.
    std::size_t Count() const;
    // Waits until `count` messages are there to take, or none came for `quiet`; whether they all came.
    bool WaitForCount(std::size_t count, std::chrono::milliseconds quiet) const;
    // The messages received so far, in order; they are no longer kept.
    std::vector<MqttMessage> Take();

private:
    struct ClientDeleter {
        void operator()(mosquitto* client) const;
    };
    static void Connected(mosquitto* client, void* self, int result);
    static void Subscribed(mosquitto* client, void* self, int id, int count, const int* granted);
    static void Received(mosquitto* client, void* self, const mosquitto_message* message);

    std::string filter_;
    int qos_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool subscribed_ = false;
    std::vector<MqttMessage> messages_;
    std::unique_ptr<mosquitto, ClientDeleter> client_;   // last: its thread ends before the rest goes
};

}  // namespace tavrel::bench
