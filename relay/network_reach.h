// The network outputs that reach past the TCP server and the UDP target: the
// server's DNS-SD announcement, the servers the stream is sent to, and the
// MQTT broker each sentence is published to. Each is made here from the
// settings, or its failure is told; the health of each is read here.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "dns_sd/service_announcer.h"
#include "mqtt/mqtt_publisher.h"
#include "network/tcp_client_output.h"
#include "relay/relay_health.h"
#include "state/network_settings.h"

// One debug line for an output that the settings ask for and that could not start.
void ReportNetworkOutputFailure(const std::string& failure);

// The announcement of a TCP server listening on `port`, when the settings
// ask for one: "Tavrel on <host>", the program's version and the input's name.
struct Announcement {
    std::unique_ptr<tavrel::dns_sd::ServiceAnnouncer> announcer;
    std::string failure;
};
Announcement StartAnnouncement(const NetworkSettings& settings, std::uint16_t port);
AnnouncementHealth TakeAnnouncementHealth(const Announcement& announcement);

// The servers of the "TcpConnect" setting, each connected in the background.
struct TcpTarget {
    std::string target;
    std::unique_ptr<tavrel::network::TcpClientOutput> output;
};
struct TcpTargets {
    std::vector<TcpTarget> targets;
    std::string failure;
};
TcpTargets StartTcpTargets(const NetworkSettings& settings);
void DeliverToTcpTargets(TcpTargets& targets, std::span<const unsigned char> chunk);
std::vector<TcpTargetHealth> TakeTcpTargetsHealth(const TcpTargets& targets);

// The publisher to the settings' broker, connecting in the background.
struct MqttOutput {
    std::string broker;
    std::unique_ptr<tavrel::mqtt::Publisher> publisher;
    std::string failure;
};
MqttOutput StartMqttOutput(const MqttSettings& settings);
void PublishToMqtt(MqttOutput& output, std::span<const unsigned char> chunk);
MqttHealth TakeMqttHealth(const MqttOutput& output);

