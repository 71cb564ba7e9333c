// The MQTT section's runs, each on a Tavrel relay launched here with its TCP
// server on (one client reads it throughout) and, but for the run without
// MQTT, its broker setting on the bench's own broker. A run: sentences
// numbered 0, 1, ... paced at 115200 baud, each timed from its write on the
// input to the subscriber's receipt and to the TCP client's, with the run time
// of the relay's threads over the stream. The outage run: the broker killed
// while the stream goes on, then started again on its port. Each ends the relay.
#pragma once

#include <chrono>
#include <cstdint>

#include "bench/input_line.h"
#include "bench/mqtt_report.h"
#include "bench/tavrel_relay.h"
#include "testkit/mqtt_broker.h"

namespace tavrel::bench {

inline constexpr double kMqttBytesPerSecond = 115200 / 10.0;

struct MqttRunPlan {
    std::size_t topics = 1;          // sentence types in turn, each its own topic
    std::uint16_t brokerPort = 0;    // 0: the relay publishes nothing; no subscriber
    int qos = 0;                     // the subscriber's; the relay's is its setting
    std::chrono::seconds length{0};
};

MqttRunFigures MeasureMqttRun(TavrelRelay& relay, const InputLine& input, const MqttRunPlan& plan);

struct OutagePlan {
    std::uint16_t brokerPort = 0;
    std::chrono::seconds before{0};   // the stream flows to the broker this long before the kill
    std::chrono::seconds outage{0};
    std::chrono::seconds after{0};    // the stream goes on this long once the subscriber has a sentence again
};

OutageFigures MeasureBrokerOutage(TavrelRelay& relay, const InputLine& input, testing::MqttBroker& broker,
                                  const OutagePlan& plan);

}  // namespace tavrel::bench
