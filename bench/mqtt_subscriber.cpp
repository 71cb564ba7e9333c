#include "bench/mqtt_subscriber.h"

#include <mosquitto.h>

#include <stdexcept>
#include <utility>

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

constexpr int kKeepAliveSeconds = 30;
constexpr auto kSubscribeLimit = 10s;

void InitialiseLibraryOnce()
{
    static const int initialised = mosquitto_lib_init();
    (void)initialised;
}

}  // namespace

void MqttSubscriber::ClientDeleter::operator()(mosquitto* client) const
{
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
}

MqttSubscriber::MqttSubscriber(std::uint16_t port, const std::string& filter, int qos) : filter_(filter), qos_(qos)
{
    InitialiseLibraryOnce();
    client_.reset(mosquitto_new(nullptr, true, this));
    if (!client_) {
        throw std::runtime_error("the MQTT subscriber cannot be made");
    }
    mosquitto_connect_callback_set(client_.get(), &MqttSubscriber::Connected);
    mosquitto_subscribe_callback_set(client_.get(), &MqttSubscriber::Subscribed);
    mosquitto_message_callback_set(client_.get(), &MqttSubscriber::Received);
    if (mosquitto_connect(client_.get(), "127.0.0.1", port, kKeepAliveSeconds) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(client_.get()) != MOSQ_ERR_SUCCESS) {
        throw std::runtime_error("the MQTT subscriber cannot connect to 127.0.0.1:" + std::to_string(port));
    }
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, kSubscribeLimit, [&] { return subscribed_; })) {
        throw std::runtime_error("the broker at 127.0.0.1:" + std::to_string(port) + " never granted " + filter);
    }
}

MqttSubscriber::~MqttSubscriber() = default;

// Subscribes on every connection: the first, and each one after a lost connection (a clean session each time).
void MqttSubscriber::Connected(mosquitto* client, void* self, int result)
{
    auto& subscriber = *static_cast<MqttSubscriber*>(self);
    if (result == 0) {
        mosquitto_subscribe(client, nullptr, subscriber.filter_.c_str(), subscriber.qos_);
    }
}

void MqttSubscriber::Subscribed(mosquitto*, void* self, int, int count, const int* granted)
{
    auto& subscriber = *static_cast<MqttSubscriber*>(self);
    const std::scoped_lock lock(subscriber.mutex_);
    subscriber.subscribed_ = count > 0 && granted[0] <= 2;
    subscriber.changed_.notify_all();
}

void MqttSubscriber::Received(mosquitto*, void* self, const mosquitto_message* message)
{
    const Clock::time_point now = Clock::now();
    auto& subscriber = *static_cast<MqttSubscriber*>(self);
    const auto* bytes = static_cast<const char*>(message->payload);
    MqttMessage taken{message->topic, std::string(bytes, bytes + message->payloadlen), now};
    const std::scoped_lock lock(subscriber.mutex_);
    subscriber.messages_.push_back(std::move(taken));
    subscriber.changed_.notify_all();
}

std::size_t MqttSubscriber::Count() const
{
    const std::scoped_lock lock(mutex_);
    return messages_.size();
}

bool MqttSubscriber::WaitForCount(std::size_t count, std::chrono::milliseconds quiet) const
{
    std::unique_lock lock(mutex_);
    while (messages_.size() < count) {
        const std::size_t before = messages_.size();
        if (!changed_.wait_for(lock, quiet, [&] { return messages_.size() != before; })) {
            return false;
        }
    }
    return true;
}

std::vector<MqttMessage> MqttSubscriber::Take()
{
    const std::scoped_lock lock(mutex_);
    return std::exchange(messages_, {});
}

}  // namespace tavrel::bench
