// An MQTT broker of a test's or a benchmark's own: Debian's mosquitto on a
// loopback port, with a configuration file and a log in the caller's folder.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace tavrel::testing {

inline constexpr const char* kMqttBrokerProgram = "/usr/sbin/mosquitto";

// "listener <port> 127.0.0.1", a line of a broker's configuration.
std::string MqttListener(std::uint16_t port);

// Started as root mosquitto would become the "mosquitto" user, which may not
// read the caller's folder: it stays the user that runs it. It queues every
// message for a subscriber that falls behind (by default it would drop those
// past 1000), and keeps nothing on disk.
class MqttBroker {
public:
    MqttBroker(const std::filesystem::path& folder, const std::string& configuration);
    // Kills it.
    ~MqttBroker() { Stop(); }
    MqttBroker(const MqttBroker&) = delete;
    MqttBroker& operator=(const MqttBroker&) = delete;

    // True once it takes connections on `port` (within 20 s).
    bool Start(std::uint16_t port);
    // Kills it at once, as a broker that crashes or loses its machine.
    void Stop();

    std::string Log() const;

private:
    std::filesystem::path config_;
    std::filesystem::path log_;
    pid_t pid_ = -1;
};

}  // namespace tavrel::testing
