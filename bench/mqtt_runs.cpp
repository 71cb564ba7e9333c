#include "bench/mqtt_runs.h"

#include <atomic>
#include <stdexcept>
#include <stop_token>
#include <thread>

#include "bench/mqtt_streams.h"
#include "bench/mqtt_subscriber.h"
#include "bench/phases.h"
#include "bench/sentence_ledger.h"
#include "bench/thread_cpu.h"
#include "testkit/proc_stats.h"

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

constexpr auto kLaunchLimit = 30s;
// The publisher's back-off reaches 30 s; past this the reconnection counts as never.
constexpr auto kReconnectLimit = 40s;
constexpr auto kQuietAfterWriter = 2s;
constexpr auto kFollowStep = 100ms;
constexpr const char* kAllTopics = "nmea/#";
constexpr const char* kPublisherThread = "mqtt-publisher";
// Past any run's end: the warm-up sentence is never one of the run's.
constexpr std::size_t kWarmUpNumber = 99'999'999;

std::span<const unsigned char> BytesOf(const std::string& text)
{
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

void Ignore(std::size_t, std::span<const unsigned char>, Clock::time_point) {}

// Launches the relay until the TCP client reads, then sends a warm-up
// sentence every 100 ms until the subscriber (if any) has one: the
// publisher is connected. What the warm-up left is dropped.
void LaunchAndConnect(Relay& relay, const InputLine& input, OutputReaders& client, MqttSubscriber* subscriber,
                      std::size_t topics)
{
    const std::string warmUp = NumberedSentence(topics, kWarmUpNumber);
    MeasureLaunch(relay, input, client, kLaunchLimit, warmUp);
    const Clock::time_point end = Clock::now() + kLaunchLimit;
    while (subscriber != nullptr && subscriber->Count() == 0) {
        if (Clock::now() > end) {
            throw std::runtime_error("no sentence reached the MQTT subscriber within 30 s of the launch");
        }
        input.WriteNow(BytesOf(warmUp));
        client.Read(100ms, Ignore);
    }
    client.Drain(300ms);
    if (subscriber != nullptr) {
        subscriber->Take();
    }
}

pid_t PublisherThread(pid_t process)
{
    const std::optional<testing::ThreadSample> thread = testing::ThreadNamed(process, kPublisherThread);
    return thread ? thread->thread : 0;
}

// The publisher's thread counted apart; the worker is the busiest of the others.
void TakeCpu(MqttRunFigures& figures, const ThreadRunTimes& before, ThreadRunTimes after, pid_t publisher)
{
    figures.processSeconds = CpuBetween(before, after).allSeconds;
    if (const auto found = after.find(publisher); publisher != 0 && found != after.end()) {
        figures.publisherSeconds = CpuBetween(before, ThreadRunTimes{*found}).allSeconds;
        after.erase(found);
    }
    figures.workerSeconds = CpuBetween(before, after).busiestSeconds;
}

// The counters from `before` to `after`, without what the warm-up published.
std::optional<MqttHealthFigures> HealthOverRun(std::optional<MqttHealthFigures> before,
                                               std::optional<MqttHealthFigures> after)
{
    if (before && after) {
        after->published -= before->published;
        after->dropped -= before->dropped;
    }
    return after;
}

NmeaStream StreamFor(std::size_t topics, std::chrono::seconds length)
{
    return NumberedStream(topics, static_cast<std::size_t>(kMqttBytesPerSecond * static_cast<double>(length.count())));
}

// Sends each sentence when a 115200 baud line would have it, until asked to stop or the stream ends.
void SendUntilStopped(const InputLine& input, const NmeaStream& stream, Clock::time_point start, std::stop_token stop,
                      std::atomic<std::size_t>& sentences)
{
    std::size_t from = 0;
    for (const std::size_t end : stream.lineEnds) {
        const Clock::time_point due =
            start + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(static_cast<double>(from) / kMqttBytesPerSecond));
        std::this_thread::sleep_until(due);
        if (stop.stop_requested()) {
            return;
        }
        input.Write(std::span(stream.bytes).subspan(from, end - from), due + 1s);
        ++sentences;
        from = end;
    }
}

// Keeps the TCP client read and the relay's resident memory sampled while the outage run goes on.
class OutageWatch {
public:
    OutageWatch(TavrelRelay& relay, OutputReaders& client) : relay_(relay), client_(client) {}

    void FollowUntil(Clock::time_point end)
    {
        while (Clock::now() < end) {
            client_.Read(kFollowStep, Ignore);
            peakKb_ = std::max(peakKb_, ResidentKb());
        }
    }
    std::uint64_t ResidentKb() const { return testing::ResidentKilobytes(relay_.processes()); }
    std::optional<MqttHealthFigures> Health() const { return MqttHealthOf(relay_.Status()); }
    // Throws when the relay no longer answers tavrel-status.
    MqttHealthFigures AnsweredHealth(const char* when) const
    {
        const std::optional<MqttHealthFigures> health = Health();
        if (!health) {
            throw std::runtime_error(std::string("tavrel-status --json gave no MQTT health ") + when);
        }
        return *health;
    }
    std::uint64_t TakePeak() { return std::exchange(peakKb_, 0); }

private:
    TavrelRelay& relay_;
    OutputReaders& client_;
    std::uint64_t peakKb_ = 0;
};

// From the broker's restart until the publisher is connected and a fresh subscriber has a sentence.
void AwaitReturn(OutageFigures& figures, OutageWatch& watch, MqttSubscriber& subscriber, Clock::time_point back,
                 const std::atomic<std::size_t>& sentences, std::size_t sentAtKill)
{
    while ((!figures.reconnectSeconds || !figures.firstSentenceSeconds) && Clock::now() < back + kReconnectLimit) {
        watch.FollowUntil(Clock::now() + kFollowStep);
        if (!figures.reconnectSeconds && watch.Health().value_or(MqttHealthFigures{}).connected) {
            figures.reconnectSeconds = Seconds(Clock::now() - back);
            figures.sentDuring = sentences - sentAtKill;
        }
        if (!figures.firstSentenceSeconds && subscriber.Count() > 0) {
            figures.firstSentenceSeconds = Seconds(subscriber.Take().front().receivedAt - back);
        }
    }
}

}  // namespace

MqttRunFigures MeasureMqttRun(TavrelRelay& relay, const InputLine& input, const MqttRunPlan& plan)
{
    OutputReaders client(LoopbackClients(relay.tcpPort(), 1));
    std::optional<MqttSubscriber> subscriber;
    if (plan.brokerPort != 0) {
        subscriber.emplace(plan.brokerPort, kAllTopics, plan.qos);
    }
    LaunchAndConnect(relay, input, client, subscriber ? &*subscriber : nullptr, plan.topics);
    const NmeaStream stream = StreamFor(plan.topics, plan.length);
    std::vector<std::optional<StreamCheck>> checks(1, StreamCheck(stream.bytes));
    SentenceLedger ledger(stream.lineEnds, 1);
    std::vector<Clock::time_point> sentAt;
    WriterProgress progress;
    const pid_t process = relay.processes().front();
    const pid_t publisher = PublisherThread(process);
    const std::optional<MqttHealthFigures> healthBefore = MqttHealthOf(relay.Status());
    const ThreadRunTimes before = RunTimesOf(process);
    const Clock::time_point start = Clock::now();
    std::size_t scheduled = 0;
    std::jthread writer([&] {
        scheduled = SendPaced(input, stream, kMqttBytesPerSecond, start, start + plan.length, progress, &sentAt);
        progress.done = true;
    });
    ReadUntilDelivered(client, checks, progress, start, [&](std::size_t, const StreamCheck& check, Clock::time_point seen) {
        ledger.Reached(0, check.firstDifference().value_or(check.received()), seen);
    });
    writer.join();
    if (progress.accepted < scheduled) {
        throw std::runtime_error("the relay stopped reading its input after " + std::to_string(progress.accepted) +
                                 " of " + std::to_string(scheduled) + " bytes");
    }
    MqttRunFigures figures;
    figures.sent = sentAt.size();
    figures.seconds = Seconds(plan.length);
    figures.inputBytes = progress.accepted;
    figures.tcpMillis = ledger.Millis(sentAt, sentAt.size());
    if (subscriber) {
        subscriber->WaitForCount(sentAt.size(), kQuietAfterWriter);
        MqttReceipts receipts = MatchReceipts(sentAt, subscriber->Take());
        figures.mqttMillis = std::move(receipts.millis);
        figures.mqttReceived = receipts.distinct;
        figures.mqttRepeated = receipts.repeated;
    }
    TakeCpu(figures, before, RunTimesOf(process), publisher);
    figures.health = HealthOverRun(healthBefore, MqttHealthOf(relay.Status()));
    if (plan.brokerPort != 0 && !figures.health) {
        throw std::runtime_error("tavrel-status --json gave no MQTT health at the run's end");
    }
    relay.Terminate();
    return figures;
}

OutageFigures MeasureBrokerOutage(TavrelRelay& relay, const InputLine& input, testing::MqttBroker& broker,
                                  const OutagePlan& plan)
{
    OutputReaders client(LoopbackClients(relay.tcpPort(), 1));
    auto subscriber = std::make_unique<MqttSubscriber>(plan.brokerPort, kAllTopics, 0);
    LaunchAndConnect(relay, input, client, subscriber.get(), kMqttSentenceTypes);
    const NmeaStream stream = StreamFor(kMqttSentenceTypes, plan.before + plan.outage + kReconnectLimit + plan.after);
    std::atomic<std::size_t> sentences{0};
    const Clock::time_point start = Clock::now();
    std::jthread writer([&](std::stop_token stop) { SendUntilStopped(input, stream, start, stop, sentences); });
    OutageWatch watch(relay, client);
    OutageFigures figures;
    watch.FollowUntil(start + plan.before);
    figures.rssBeforeKb = watch.ResidentKb();
    figures.droppedBefore = watch.AnsweredHealth("before the broker's kill").dropped;
    watch.TakePeak();

    subscriber.reset();
    broker.Stop();
    const std::size_t sentAtKill = sentences;
    const Clock::time_point killed = Clock::now();
    watch.FollowUntil(killed + plan.outage);
    if (!broker.Start(plan.brokerPort)) {
        throw std::runtime_error("the broker did not start again on its port");
    }
    const Clock::time_point back = Clock::now();
    figures.outageSeconds = Seconds(back - killed);
    subscriber = std::make_unique<MqttSubscriber>(plan.brokerPort, kAllTopics, 0);
    AwaitReturn(figures, watch, *subscriber, back, sentences, sentAtKill);
    watch.FollowUntil(Clock::now() + plan.after);
    figures.rssPeakKb = watch.TakePeak();
    figures.rssAfterKb = watch.ResidentKb();
    figures.droppedAfter = watch.AnsweredHealth("at the run's end").dropped;
    writer.request_stop();
    writer.join();
    relay.Terminate();
    return figures;
}

}  // namespace tavrel::bench
