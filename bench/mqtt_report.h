// The MQTT section of the report: sentences and their latency through the
// broker beside the same stream at a TCP client, what publishing costs the
// relay's worker, and what a broker that goes away for a while costs in
// memory, sentences and time.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "bench/mqtt_health.h"

namespace tavrel::bench {

// Publishing may cost the relay's worker at most this many times its CPU per MB without it.
inline constexpr double kMqttWorkerCostGoal = 1.10;
// The publisher's queue holds 256 KiB; the process may grow by at most this much while the broker is away.
inline constexpr double kOutageGrowthGoalKilobytes = 1024;

struct MqttRunFigures {
    std::size_t sent = 0;            // sentences written to the input
    double seconds = 0;              // from the first write to the last
    std::size_t inputBytes = 0;
    std::vector<double> mqttMillis;  // each sentence: the write → the subscriber's receipt
    std::size_t mqttReceived = 0;    // distinct sentences the subscriber got
    std::size_t mqttRepeated = 0;
    std::vector<double> tcpMillis;   // each sentence: the write → the TCP client has it whole
    double workerSeconds = 0;        // the busiest thread but the publisher's
    double publisherSeconds = 0;     // the "mqtt-publisher" thread
    double processSeconds = 0;
    std::optional<MqttHealthFigures> health;   // at the run's end, its counters over the stream alone
};

struct MqttRunResult {
    std::string name;                // "10 topics, QoS 0"
    bool publishing = false;         // false: the run without a broker set, for the worker's base cost
    std::optional<MqttRunFigures> figures;
    std::string failure;
};

struct OutageFigures {
    double outageSeconds = 0;        // from the broker's kill to its restart
    std::uint64_t rssBeforeKb = 0;   // just before the kill
    std::uint64_t rssPeakKb = 0;     // the most from the kill until the run's end
    std::uint64_t rssAfterKb = 0;    // at the run's end
    std::uint64_t droppedBefore = 0;
    std::uint64_t droppedAfter = 0;
    std::size_t sentDuring = 0;      // sentences written from the kill to the reconnection
    std::optional<double> reconnectSeconds;       // the broker takes connections again → health "connected"
    std::optional<double> firstSentenceSeconds;   // the same → a fresh subscriber's first sentence
};

struct OutageResult {
    std::optional<OutageFigures> figures;
    std::string failure;
};

struct MqttResults {
    std::vector<MqttRunResult> runs;   // the run without MQTT first
    OutageResult outage;
};

// Seconds of the worker per 10^6 bytes of input; nothing without figures.
std::optional<double> MqttWorkerPerMegabyte(const MqttRunResult& run);
// A publishing run's worker CPU per MB over the run without MQTT's; nothing when either is missing.
std::optional<double> MqttWorkerCostRatio(const MqttResults& results, const MqttRunResult& run);
// The largest of those over the publishing runs: what the goal is checked against.
std::optional<double> WorstMqttWorkerCost(const MqttResults& results);

std::string MqttRunTable(const MqttResults& results);
std::string MqttOutageTable(const OutageResult& outage);
// The runs that failed, one line each; empty when none did.
std::string MqttFailureList(const MqttResults& results);

}  // namespace tavrel::bench
