// The MQTT section's parts that could make its figures wrong: sentences told
// by their number, receipts matched to writes, the health read from
// tavrel-status's answer, the worker's cost against the run without MQTT,
// and the timing subscriber against a real broker fed by Tavrel's publisher.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

#include "bench/merge_streams.h"
#include "bench/mqtt_report.h"
#include "bench/mqtt_streams.h"
#include "bench/mqtt_subscriber.h"
#include "bench/options.h"
#include "mqtt/mqtt_publisher.h"
#include "testkit/loopback.h"
#include "testkit/mqtt_broker.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::bench;
using namespace std::chrono_literals;

TEST(MqttStreams, SentencesCarryTheirNumberAndTakeTurnsByType)
{
    const NmeaStream stream = NumberedStream(kMqttSentenceTypes, 20'000);
    ASSERT_GE(stream.bytes.size(), 20'000U);
    std::set<std::string> addresses;
    std::size_t from = 0;
    for (std::size_t number = 0; number < stream.lineEnds.size(); ++number) {
        const std::string line(stream.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                               stream.bytes.begin() + static_cast<std::ptrdiff_t>(stream.lineEnds[number]));
        EXPECT_TRUE(WellFormedSentence(line)) << line;
        EXPECT_EQ(NumberOf(line), number);
        addresses.insert(line.substr(0, 6));
        from = stream.lineEnds[number];
    }
    EXPECT_EQ(addresses.size(), kMqttSentenceTypes);
    EXPECT_EQ(NumberedSentence(1, 7).substr(0, 6), "$GPGGA");
    for (const char* other : {"$GPGGA,,1*00", "$GPGGA,12x,1", "!AIVDM,1,1,,A,13u*24", "$GPGGA,00000012"}) {
        EXPECT_FALSE(NumberOf(other)) << other;
    }
}

TEST(MqttStreams, ReceiptsCountEachSentenceOnceFromItsWrite)
{
    const Clock::time_point t0 = Clock::now();
    const std::vector<Clock::time_point> sentAt = {t0, t0 + 10ms, t0 + 20ms};
    const std::vector<MqttMessage> messages = {
        {"a", NumberedSentence(10, 1), t0 + 13ms},
        {"a", NumberedSentence(10, 1), t0 + 15ms},    // again (QoS 1)
        {"a", NumberedSentence(10, 99), t0 + 16ms},   // a warm-up sentence
        {"a", NumberedSentence(10, 0), t0 + 17ms},
    };
    const MqttReceipts receipts = MatchReceipts(sentAt, messages);
    EXPECT_EQ(receipts.distinct, 2U);
    EXPECT_EQ(receipts.repeated, 1U);
    EXPECT_EQ(receipts.foreign, 1U);
    ASSERT_EQ(receipts.millis.size(), 2U);
    EXPECT_NEAR(receipts.millis[0], 3.0, 1e-6);
    EXPECT_NEAR(receipts.millis[1], 17.0, 1e-6);
}

TEST(MqttHealth, ReadsThePublishersPartOfTheStatusAnswer)
{
    const auto health = MqttHealthOf(
        R"({"outputs":[{"dropped":5}],"mqtt":{"broker":"127.0.0.1:1883","connected":true,"published":1234,)"
        R"("dropped":56,"failure":null}})");
    ASSERT_TRUE(health);
    EXPECT_TRUE(health->connected);
    EXPECT_EQ(health->published, 1234U);
    EXPECT_EQ(health->dropped, 56U);
    EXPECT_FALSE(MqttHealthOf(R"({"mqtt":{"broker":"b:1","connected":false,"published":1,"dropped":2}})")->connected);
    EXPECT_FALSE(MqttHealthOf(R"({"outputs":[],"mqtt":null})"));
    EXPECT_FALSE(MqttHealthOf(""));
}

MqttRunResult RunOf(bool publishing, double workerSeconds)
{
    MqttRunFigures figures;
    figures.inputBytes = 2'000'000;
    figures.workerSeconds = workerSeconds;
    return {publishing ? "on" : "off", publishing, figures, ""};
}

TEST(MqttReport, TheWorkersCostIsTakenAgainstTheRunWithoutMqtt)
{
    MqttResults results;
    results.runs = {RunOf(true, 0.30), RunOf(false, 0.20), RunOf(true, 0.21)};
    EXPECT_NEAR(*MqttWorkerPerMegabyte(results.runs[1]), 0.10, 1e-9);
    EXPECT_NEAR(*MqttWorkerCostRatio(results, results.runs[2]), 1.05, 1e-9);
    EXPECT_FALSE(MqttWorkerCostRatio(results, results.runs[1]));
    EXPECT_NEAR(*WorstMqttWorkerCost(results), 1.5, 1e-9);
    EXPECT_NE(MqttRunTable(results).find("missed"), std::string::npos);
    results.runs.erase(results.runs.begin());
    EXPECT_NE(MqttRunTable(results).find("met"), std::string::npos);
    results.runs[0].figures.reset();
    results.runs[0].failure = "the relay did not start";
    EXPECT_FALSE(WorstMqttWorkerCost(results));
    EXPECT_NE(MqttFailureList(results).find("the relay did not start"), std::string::npos);
}

TEST(MqttOptions, TheSectionIsChosenLikeTheOthers)
{
    std::string error;
    const auto only = ParseOptions({"--mqtt-only", "--quick", "--mqtt-seconds", "7"}, error);
    ASSERT_TRUE(only) << error;
    EXPECT_TRUE(only->mqtt && !only->serial && !only->network && !only->merge && !only->shape);
    EXPECT_EQ(only->mqttSeconds, 7);
    const auto without = ParseOptions({"--no-mqtt"}, error);
    ASSERT_TRUE(without);
    EXPECT_FALSE(without->mqtt);
    EXPECT_TRUE(without->shape);
}

TEST(MqttSubscriber, TimesEverySentenceThatTavrelsPublisherSendsThroughABroker)
{
    if (!std::filesystem::exists(tavrel::testing::kMqttBrokerProgram)) {
        GTEST_SKIP() << tavrel::testing::kMqttBrokerProgram << " is not installed (Debian package mosquitto)";
    }
    const tavrel::testing::TempFolder folder;
    const std::uint16_t port = tavrel::testing::FreeLoopbackPort();
    tavrel::testing::MqttBroker broker(folder.path(), tavrel::testing::MqttListener(port) + "allow_anonymous true\n");
    ASSERT_TRUE(broker.Start(port)) << broker.Log();
    MqttSubscriber subscriber(port, "nmea/#", 1);
    tavrel::mqtt::PublisherOptions options;
    options.host = "127.0.0.1";
    options.port = port;
    options.qos = 1;
    options.hostName = "bench";
    std::string failure;
    const auto publisher = tavrel::mqtt::Publisher::Start(options, failure);
    ASSERT_TRUE(publisher) << failure;

    const NmeaStream stream = NumberedStream(kMqttSentenceTypes, 30'000);
    const Clock::time_point start = Clock::now();
    const std::vector<Clock::time_point> sentAt(stream.lineEnds.size(), start);
    publisher->Publish(stream.bytes);
    ASSERT_TRUE(subscriber.WaitForCount(sentAt.size(), 20s)) << subscriber.Count() << " of " << sentAt.size();
    const std::vector<MqttMessage> messages = subscriber.Take();
    EXPECT_EQ(subscriber.Count(), 0U);
    const MqttReceipts receipts = MatchReceipts(sentAt, messages);
    EXPECT_EQ(receipts.distinct, sentAt.size());
    EXPECT_EQ(receipts.foreign, 0U);
    EXPECT_TRUE(std::all_of(receipts.millis.begin(), receipts.millis.end(), [](double ms) { return ms >= 0; }));
    EXPECT_EQ(messages.front().topic, "nmea/bench/GPGGA");
    EXPECT_EQ(messages.front().payload, NumberedSentence(kMqttSentenceTypes, 0).substr(0, messages.front().payload.size()));
}

}  // namespace
