#include "relay/talk_back.h"

#include <mutex>

#include "platform/kernel.h"

namespace {

// TCP clients are talkers from this number on; the virtual outputs below it.
constexpr std::size_t kFirstClientTalker = kMostOutputs;
// What the clients' inbox holds at most between two of the worker's looks.
constexpr std::size_t kMostInboxBytes = 64 * 1024;

// What the TCP server's thread hands the worker: open while a run lets its
// clients talk.
struct ClientInbox {
    std::mutex mutex;
    std::vector<TalkedBytes> waiting;
    std::size_t bytes = 0;
    OwnedHandle arrived;   // auto-reset
};

ClientInbox Inbox;

std::size_t ClientTalker(std::uint64_t client)
{
    return kFirstClientTalker + static_cast<std::size_t>(client);
}

TalkArbiter* ArbiterOf(TalkBack& talk, std::size_t input)
{
    return input < talk.arbiters.size() ? talk.arbiters[input].get() : nullptr;
}

void MakeArbiter(TalkBack& talk, std::size_t input, const std::function<std::uint32_t(std::size_t)>& lineRate)
{
    if (input < talk.arbiters.size() && talk.arbiters[input] == nullptr) {
        talk.arbiters[input] = std::make_unique<TalkArbiter>(lineRate(input));
    }
}

void OpenInbox(bool open)
{
    const std::lock_guard lock(Inbox.mutex);
    Inbox.waiting.clear();
    Inbox.bytes = 0;
    Inbox.arrived.Reset(open ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr);
}

void ReadPort(TalkBack& talk, TalkingPort& talking, std::uint64_t nowMs)
{
    TalkArbiter* arbiter = ArbiterOf(talk, talking.to);
    DWORD count = 0;
    do {
        count = 0;
        if (talking.port->Read(talk.buffer.data(), static_cast<DWORD>(talk.buffer.size()), &count, nullptr, INFINITE) != 0) {
            return;
        }
        if (arbiter != nullptr && count != 0) {
            arbiter->Feed(talking.output, talking.mode, std::span(talk.buffer.data(), count), nowMs);
        }
    } while (count == talk.buffer.size());
}

void ServeClients(TalkBack& talk, std::uint64_t nowMs)
{
    {
        const std::lock_guard lock(Inbox.mutex);
        talk.fromClients.swap(Inbox.waiting);
        Inbox.bytes = 0;
    }
    TalkArbiter* arbiter = ArbiterOf(talk, talk.tcpTo);
    for (const TalkedBytes& said : talk.fromClients) {
        if (arbiter == nullptr) {
            break;
        }
        if (said.bytes.empty()) {
            arbiter->Leave(ClientTalker(said.client), nowMs);
            talk.tcpTalkers.erase(said.client);
        } else {
            arbiter->Feed(ClientTalker(said.client), talk.tcpMode, said.bytes, nowMs);
            talk.tcpTalkers.insert(said.client);
        }
    }
    talk.fromClients.clear();
}

void Publish(OutputCountersRecord& record, const TalkerCounts& counts)
{
    record.talkedBytes.store(counts.bytes, std::memory_order_relaxed);
    record.talkedLines.store(counts.lines, std::memory_order_relaxed);
    record.talkDropped.store(counts.droppedBytes, std::memory_order_relaxed);
}

void PublishCounts(TalkBack& talk)
{
    for (const auto& talking : talk.ports) {
        if (const TalkArbiter* arbiter = ArbiterOf(talk, talking->to)) {
            Publish(RelayCounters.outputs[talking->output], arbiter->Counts(talking->output));
        }
    }
    if (const TalkArbiter* arbiter = ArbiterOf(talk, talk.tcpTo); arbiter != nullptr && talk.tcpMode != TalkMode::Off) {
        TalkerCounts clients = arbiter->DepartedCounts();
        for (const std::uint64_t client : talk.tcpTalkers) {
            clients += arbiter->Counts(ClientTalker(client));
        }
        Publish(RelayCounters.outputs[kTcpOutputCounts], clients);
    }
}

}  // namespace

void StartTalkBack(TalkBack& talk, const std::vector<std::pair<CSerial*, OutputOptions>>& outputs,
                   const OutputOptions& tcp, const std::function<std::uint32_t(std::size_t input)>& lineRate)
{
    for (std::size_t i = 0; i < outputs.size() && i < kMostOutputs; ++i) {
        const auto& [port, options] = outputs[i];
        if (options.talk == TalkMode::Off) {
            continue;
        }
        auto talking = std::make_unique<TalkingPort>();
        HANDLE received = nullptr;
        if (port->CreateReceiveEvent(&received) != 0) {
            OutputDebugStringW(u"An output set to talk cannot tell when its program writes; it does not talk\n");
            continue;
        }
        talking->output = i;
        talking->port = port;
        talking->mode = options.talk;
        talking->to = options.talkTo;
        talking->received.Reset(received);
        MakeArbiter(talk, options.talkTo, lineRate);
        talk.ports.push_back(std::move(talking));
    }
    talk.tcpMode = tcp.talk;
    talk.tcpTo = tcp.talkTo;
    if (tcp.talk != TalkMode::Off) {
        MakeArbiter(talk, tcp.talkTo, lineRate);
    }
    OpenInbox(tcp.talk != TalkMode::Off);
}

void StopTalkBack(TalkBack& talk)
{
    OpenInbox(false);
    talk.ports.clear();
    talk.tcpTalkers.clear();
    for (auto& arbiter : talk.arbiters) {
        arbiter.reset();
    }
}

bool Talking(const TalkBack& talk)
{
    return !talk.ports.empty() || talk.tcpMode != TalkMode::Off;
}

void AddTalkWaits(const TalkBack& talk, HANDLE* objects, DWORD& count, DWORD room)
{
    for (const auto& talking : talk.ports) {
        if (count < room) {
            objects[count++] = talking->received.get();
        }
    }
    if (talk.tcpMode != TalkMode::Off && count < room) {
        const std::lock_guard lock(Inbox.mutex);
        objects[count++] = Inbox.arrived.get();
    }
}

void ServeTalk(TalkBack& talk, std::uint64_t nowMs, const TalkInputs& inputs)
{
    for (const auto& talking : talk.ports) {
        ReadPort(talk, *talking, nowMs);
    }
    if (talk.tcpMode != TalkMode::Off) {
        ServeClients(talk, nowMs);
    }
    for (std::size_t input = 0; input < talk.arbiters.size(); ++input) {
        if (talk.arbiters[input] == nullptr || !inputs.ready(input)) {
            continue;
        }
        talk.out.clear();
        talk.arbiters[input]->Take(nowMs, talk.out);
        if (!talk.out.empty()) {
            inputs.send(input, talk.out);
        }
    }
    PublishCounts(talk);
}

std::optional<std::uint64_t> NextTalkDeadline(const TalkBack& talk, const TalkInputs& inputs)
{
    std::optional<std::uint64_t> earliest;
    for (std::size_t input = 0; input < talk.arbiters.size(); ++input) {
        const TalkArbiter* arbiter = talk.arbiters[input].get();
        const std::optional<std::uint64_t> deadline =
            arbiter != nullptr && inputs.ready(input) ? arbiter->NextDeadline() : std::nullopt;
        if (deadline && (!earliest || *deadline < *earliest)) {
            earliest = deadline;
        }
    }
    return earliest;
}

void TalkFromTcpClient(std::uint64_t client, std::span<const unsigned char> bytes)
{
    const std::lock_guard lock(Inbox.mutex);
    if (Inbox.arrived.get() == nullptr || Inbox.bytes + bytes.size() > kMostInboxBytes) {
        return;   // no run lets clients talk, or the worker is far behind: the arbiter would drop it too
    }
    Inbox.waiting.push_back({client, std::vector<unsigned char>(bytes.begin(), bytes.end())});
    Inbox.bytes += bytes.size();
    SetEvent(Inbox.arrived.get());
}
