// The MQTT section of relay_compare, Tavrel alone, publishing to a Mosquitto
// broker of the bench's own on a loopback port: numbered sentences paced at
// 115200 baud, timed to a subscriber through the broker and to a client of
// Tavrel's TCP server in the same run, without MQTT once (the worker's base
// cost) and with 1 topic, 10 topics, 10 topics at QoS 1; then the broker
// killed for a while and started again as the stream goes on.
#pragma once

#include "bench/mqtt_report.h"
#include "bench/options.h"

namespace tavrel::bench {

MqttResults MeasureMqttSection(const Options& options);

}  // namespace tavrel::bench
