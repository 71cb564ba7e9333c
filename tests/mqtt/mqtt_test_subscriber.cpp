#include "mqtt/mqtt_test_subscriber.h"

namespace tavrel::testing {

MqttSubscriber::MqttSubscriber(std::uint16_t port, const std::string& filter, const char* user, const char* password)
    : filter_(filter)
{
    mosquitto_lib_init();
    client_ = mosquitto_new(nullptr, true, this);
    mosquitto_username_pw_set(client_, user, password);
    mosquitto_connect_callback_set(client_, [](mosquitto* client, void* self, int code) {
        if (code == 0) {
            mosquitto_subscribe(client, nullptr, static_cast<MqttSubscriber*>(self)->filter_.c_str(), 1);
        }
    });
    mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
        static_cast<MqttSubscriber*>(self)->subscribed_ = true;
    });
    mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* message) {
        static_cast<MqttSubscriber*>(self)->Record(*message);
    });
    mosquitto_connect(client_, "127.0.0.1", port, 30);
    mosquitto_loop_start(client_);
}

MqttSubscriber::~MqttSubscriber()
{
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

std::vector<MqttMessage> MqttSubscriber::messages() const
{
    const std::lock_guard guard(lock_);
    return messages_;
}

void MqttSubscriber::Record(const mosquitto_message& message)
{
    const std::lock_guard guard(lock_);
    const auto* payload = static_cast<const char*>(message.payload);
    messages_.push_back({message.topic, std::string(payload, static_cast<std::size_t>(message.payloadlen))});
}

}  // namespace tavrel::testing
