#include "relay/network_reach.h"

#include <string_view>
#include <utility>

#include "network/host_address.h"
#include "network/udp_target.h"
#include "platform/kernel.h"
#include "platform/strings.h"
#include "state/app_settings.h"

namespace {

// Announced when asked, or, left to itself, when other computers may connect.
bool AnnouncementWanted(const NetworkSettings& settings)
{
    return settings.announce == kAnnounceAuto ? settings.tcpAnyAddress != 0 : settings.announce != 0;
}

const char* AnnouncerStateText(tavrel::dns_sd::AnnouncerState state)
{
    switch (state) {
    case tavrel::dns_sd::AnnouncerState::Announced: return "announced";
    case tavrel::dns_sd::AnnouncerState::Registering: return "registering";
    case tavrel::dns_sd::AnnouncerState::NoDaemon: return "no Avahi daemon";
    default: return "failed";
    }
}

}  // namespace

void ReportNetworkOutputFailure(const std::string& failure)
{
    OutputDebugStringW(platform::ToUtf16("Network output not started: " + failure + "\n").c_str());
}

Announcement StartAnnouncement(const NetworkSettings& settings, std::uint16_t port)
{
    Announcement announcement;
    if (!AnnouncementWanted(settings) || port == 0) {
        return announcement;
    }
    tavrel::dns_sd::Service service;
    service.name = "Tavrel on " + tavrel::network::ThisHostName();
    service.port = port;
    // GeoClue takes a service's positions only up to the accuracy it claims:
    // a receiver's are as exact as positions come.
    service.txt = {"version=" TAVREL_VERSION, "input=COM" + std::to_string(AppSettings.inputPort), "accuracy=exact"};
    // A server that only this machine may reach is announced to it alone.
    service.loopbackOnly = settings.tcpAnyAddress == 0;
    announcement.announcer = tavrel::dns_sd::ServiceAnnouncer::Start(service, announcement.failure);
    if (announcement.announcer == nullptr) {
        announcement.failure = "DNS-SD announcement: " + announcement.failure;
        ReportNetworkOutputFailure(announcement.failure);
    }
    return announcement;
}

AnnouncementHealth TakeAnnouncementHealth(const Announcement& announcement)
{
    AnnouncementHealth health;
    health.failure = announcement.failure;
    if (announcement.announcer != nullptr) {
        const tavrel::dns_sd::AnnouncerHealth now = announcement.announcer->Health();
        health.state = AnnouncerStateText(now.state);
        // A name is only the network's once the daemon has it.
        const bool named = now.state == tavrel::dns_sd::AnnouncerState::Announced ||
                           now.state == tavrel::dns_sd::AnnouncerState::Registering;
        health.name = named ? now.name : "";
        health.failure = now.failure;
    } else if (!health.failure.empty()) {
        health.state = "failed";
    }
    return health;
}

TcpTargets StartTcpTargets(const NetworkSettings& settings)
{
    TcpTargets started;
    const std::string list = platform::ToUtf8(settings.tcpConnect);
    for (const std::string_view text : tavrel::network::TargetList(list)) {
        std::string failure;
        const std::optional<tavrel::network::UdpTarget> target = tavrel::network::ParseUdpTarget(text, failure);
        tavrel::network::TcpClientOutputOptions options;
        if (target) {
            options.host = target->host;
            options.port = target->port;
        }
        auto output = target ? tavrel::network::TcpClientOutput::Start(options, failure) : nullptr;
        if (output == nullptr) {
            started.failure += (started.failure.empty() ? "" : "; ") + failure;
            continue;
        }
        started.targets.push_back({std::string(text), std::move(output)});
    }
    if (!started.failure.empty()) {
        started.failure = "TCP output: " + started.failure;
        ReportNetworkOutputFailure(started.failure);
    }
    return started;
}

void DeliverToTcpTargets(TcpTargets& targets, std::span<const unsigned char> chunk)
{
    for (TcpTarget& target : targets.targets) {
        target.output->Deliver(chunk);
    }
}

std::vector<TcpTargetHealth> TakeTcpTargetsHealth(const TcpTargets& targets)
{
    std::vector<TcpTargetHealth> health;
    for (const TcpTarget& target : targets.targets) {
        const tavrel::network::TcpClientOutputHealth now = target.output->Health();
        health.push_back({target.target, now.connected, now.address, now.reason, now.bytesSent, now.bytesDropped});
    }
    return health;
}

MqttOutput StartMqttOutput(const MqttSettings& settings)
{
    MqttOutput output;
    output.broker = platform::ToUtf8(settings.broker);
    if (output.broker.empty()) {
        return output;
    }
    tavrel::mqtt::PublisherOptions options;
    const auto target = tavrel::network::ParseUdpTarget(output.broker, output.failure);
    if (!target) {
        output.failure = "MQTT: " + output.failure;
    } else {
        options.host = target->host;
        options.port = target->port;
        options.topicTemplate = platform::ToUtf8(settings.topic);
        options.qos = static_cast<int>(settings.qos);
        options.retainLastRmc = settings.retainRmc != 0;
        options.caFile = platform::ToUtf8(settings.tlsCa);
        options.credentialsFile = platform::ToUtf8(settings.credentials);
        options.clientId = platform::ToUtf8(settings.clientId);
        options.keepAlive = std::chrono::seconds(settings.keepAlive);
        options.protocolVersion = static_cast<int>(settings.version);
        output.publisher = tavrel::mqtt::Publisher::Start(options, output.failure);
    }
    if (output.publisher == nullptr) {
        ReportNetworkOutputFailure(output.failure);   // the publisher's failures name MQTT already
    }
    return output;
}

void PublishToMqtt(MqttOutput& output, std::span<const unsigned char> chunk)
{
    if (output.publisher != nullptr && !chunk.empty()) {
        output.publisher->Publish(chunk);
    }
}

MqttHealth TakeMqttHealth(const MqttOutput& output)
{
    MqttHealth health;
    health.broker = output.broker;
    health.failure = output.failure;
    if (output.publisher != nullptr) {
        const tavrel::mqtt::PublisherHealth now = output.publisher->Health();
        health.connected = now.connected;
        health.published = now.published;
        health.dropped = now.dropped;
        health.failure = now.failure;
    }
    return health;
}
