// The network section's runs: latency to TCP clients, and the realistic run
// with a client that connects and never reads.
#include <thread>

#include "bench/phases.h"
#include "bench/sentence_ledger.h"
#include "bench/sessions.h"
#include "bench/socket_watch.h"

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

// The smallest the kernel allows, near enough: the client's window closes after a few kilobytes.
constexpr int kStalledReceiveBuffer = 4096;

// The first bytes of the stream that arrived unchanged.
std::size_t InOrder(const StreamCheck& check)
{
    return check.firstDifference().value_or(check.received());
}

// Reads what the client that never read holds, until nothing came for `quiet`.
std::size_t ReadStalled(OutputReaders& clients, std::size_t stalled, std::chrono::milliseconds quiet)
{
    clients.SetPaused(stalled, false);
    std::size_t held = 0;
    while (clients.IsOpen(stalled) &&
           clients.Read(quiet, [&](std::size_t client, std::span<const unsigned char> bytes, Clock::time_point) {
               held += client == stalled ? bytes.size() : 0;
           }) > 0) {
    }
    return held;
}

// What became of the client that never read, once it reads at last: what it
// held, whether the relay had closed it, and when the relay closed a socket.
void TakeStalledFate(NetworkRealisticFigures& figures, OutputReaders& clients, std::size_t stalled,
                     const std::vector<double>& socketsClosedAfter)
{
    if (!socketsClosedAfter.empty()) {
        figures.cutOffAfter = socketsClosedAfter.front();
    }
    figures.stalledHeld = ReadStalled(clients, stalled, 2s);
    figures.stalledCutOff = !clients.IsOpen(stalled);
}

}  // namespace

LatencyFigures MeasureNetworkLatency(Relay& relay, const InputLine& input, std::size_t clients, std::size_t samples,
                                     std::mt19937& random)
{
    OutputReaders readers(LoopbackClients(relay.tcpPort(), clients));
    MeasureLaunch(relay, input, readers, 30s);
    readers.Drain(300ms);
    const LatencyFigures figures = MeasureLatency(input, readers, samples, random);
    relay.Terminate();
    return figures;
}

NetworkRealisticFigures MeasureNetworkRealistic(Relay& relay, const InputLine& input, const RealisticPlan& plan)
{
    OutputReaders clients(LoopbackClients(relay.tcpPort(), kReadingClients + 1, 1, kStalledReceiveBuffer));
    MeasureLaunch(relay, input, clients, 30s);
    clients.Drain(300ms);
    const std::size_t stalled = kReadingClients;
    clients.SetPaused(stalled, true);

    const double rate = BytesPerSecond(plan.baud);
    const NmeaStream stream =
        NmeaSentences(static_cast<std::size_t>(rate * static_cast<double>(plan.duration.count())) + 1);
    std::vector<std::optional<StreamCheck>> checks(kReadingClients, StreamCheck(stream.bytes));
    checks.emplace_back();   // the stalled client is not checked
    SentenceLedger ledger(stream.lineEnds, kReadingClients);
    std::vector<std::size_t> inOrder(kReadingClients, 0);
    std::vector<Clock::time_point> sentAt;
    NetworkRealisticFigures figures;
    WriterProgress progress;
    const SocketWatch watch(relay.processes(), 100ms);
    const Clock::time_point start = Clock::now();
    std::jthread writer([&] {
        figures.scheduled = SendPaced(input, stream, rate, start, start + plan.duration, progress, &sentAt);
        progress.done = true;
    });
    ReadUntilDelivered(clients, checks, progress, start,
                       [&](std::size_t client, const StreamCheck& check, Clock::time_point seen) {
                           inOrder[client] = InOrder(check);
                           ledger.Reached(client, inOrder[client], seen);
                       });
    writer.join();
    figures.accepted = progress.accepted;
    for (const std::size_t got : inOrder) {
        figures.readerLost.push_back(figures.scheduled - std::min(figures.scheduled, got));
    }
    figures.sentenceMillis = ledger.Millis(sentAt, sentAt.size());
    TakeStalledFate(figures, clients, stalled, watch.ClosedAfter(start));
    relay.Terminate();
    return figures;
}

}  // namespace tavrel::bench
