#include "bench/mqtt_section.h"

#include <cstdio>
#include <memory>

#include "bench/attempt.h"
#include "bench/mqtt_runs.h"
#include "bench/mqtt_streams.h"
#include "testkit/loopback.h"

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

// Tavrel's baud setting for 115200 in its bench device.
constexpr int kBaudIndex115200 = 12;

struct RunKind {
    const char* name;
    std::size_t topics;
    bool publishing;
    int qos;
};

constexpr RunKind kRunKinds[] = {
    {"without MQTT, 10 sentence types", kMqttSentenceTypes, false, 0},
    {"1 topic, QoS 0", 1, true, 0},
    {"10 topics, QoS 0", kMqttSentenceTypes, true, 0},
    {"10 topics, QoS 1", kMqttSentenceTypes, true, 1},
};

// A Tavrel relay with its TCP server on, publishing to 127.0.0.1:brokerPort (0: publishing nothing).
RelayMaker PublishingRelay(std::uint16_t brokerPort, int qos)
{
    return [=](const std::filesystem::path& folder, const InputLine& input) -> std::unique_ptr<Relay> {
        // One virtual output, as the relay needs one; nobody opens it.
        auto relay = std::make_unique<TavrelRelay>(folder, input.tty(), 1, kBaudIndex115200,
                                                   testing::FreeLoopbackPort());
        if (brokerPort != 0) {
            relay->Configure({"mqtt-broker", "127.0.0.1:" + std::to_string(brokerPort)});
            relay->Configure({"mqtt-qos", std::to_string(qos)});
        }
        return relay;
    };
}

TavrelRelay& AsTavrel(Relay& relay)
{
    return dynamic_cast<TavrelRelay&>(relay);
}

// A fresh broker for each run, in a folder of its own; nothing, with `failure` set, when it does not start.
std::unique_ptr<testing::MqttBroker> StartBroker(const testing::TempFolder& folder, std::uint16_t port,
                                                 std::string& failure)
{
    auto broker = std::make_unique<testing::MqttBroker>(folder.path(),
                                                                testing::MqttListener(port) + "allow_anonymous true\n");
    if (!broker->Start(port)) {
        failure = "the broker did not start: " + broker->Log();
        return nullptr;
    }
    return broker;
}

MqttRunResult Run(const RunKind& kind, std::chrono::seconds length)
{
    std::fprintf(stderr, "MQTT run: Tavrel, %s, for %d s\n", kind.name, static_cast<int>(length.count()));
    MqttRunResult result{kind.name, kind.publishing, std::nullopt, ""};
    const testing::TempFolder folder;
    const std::uint16_t port = kind.publishing ? testing::FreeLoopbackPort() : 0;
    const auto broker = kind.publishing ? StartBroker(folder, port, result.failure) : nullptr;
    if (kind.publishing && !broker) {
        return result;
    }
    const MqttRunPlan plan{kind.topics, port, kind.qos, length};
    result.figures = Attempt<MqttRunFigures>(
        PublishingRelay(port, kind.qos),
        [&](Relay& relay, const InputLine& input) { return MeasureMqttRun(AsTavrel(relay), input, plan); },
        result.failure);
    return result;
}

OutageResult OutageRun(const OutagePlan& plan)
{
    std::fprintf(stderr, "MQTT broker outage: Tavrel, the broker away for %d s\n",
                 static_cast<int>(plan.outage.count()));
    OutageResult result;
    const testing::TempFolder folder;
    const auto broker = StartBroker(folder, plan.brokerPort, result.failure);
    if (!broker) {
        return result;
    }
    result.figures = Attempt<OutageFigures>(
        PublishingRelay(plan.brokerPort, 0),
        [&](Relay& relay, const InputLine& input) {
            return MeasureBrokerOutage(AsTavrel(relay), input, *broker, plan);
        },
        result.failure);
    return result;
}

}  // namespace

MqttResults MeasureMqttSection(const Options& options)
{
    const std::chrono::seconds length(options.mqttSeconds);
    MqttResults results;
    for (const RunKind& kind : kRunKinds) {
        results.runs.push_back(Run(kind, length));
    }
    const OutagePlan outage{testing::FreeLoopbackPort(), options.quick ? 2s : 5s,
                            std::chrono::seconds(options.mqttOutageSeconds), options.quick ? 1s : 5s};
    results.outage = OutageRun(outage);
    return results;
}

}  // namespace tavrel::bench
