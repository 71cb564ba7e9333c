#include "relay/input_sources.h"

#include <mutex>
#include <span>
#include <string>

#include "network/tcp_source.h"
#include "network/udp_listener.h"
#include "platform/devices.h"
#include "platform/kernel.h"
#include "platform/registry_key.h"
#include "platform/strings.h"
#include "relay/owned_handles.h"
#include "relay/relay_counters.h"
#include "serial/serial_port.h"

namespace {

constexpr DWORD kReadSize = 4096;
// How often a missing or lost serial input is looked for.
constexpr DWORD kRetryMilliseconds = 1000;
// A serial input whose driver cannot tell when data arrives is read this often.
constexpr DWORD kPollMilliseconds = 100;
// What may wait for the worker, all inputs together. The worker takes it
// within a pacing wait (250 ms at most), so only a flood fills it; what does
// not fit then is dropped as it arrives, never what waits.
constexpr std::size_t kMostInboxBytes = std::size_t{1} << 20;
constexpr std::size_t kDeviceNameSize = 10;
// A write to an input waits at most this long for a receiver that holds the line.
constexpr DWORD kWriteMilliseconds = 50;
// What the outputs' programs said that waits for a reader's thread at most.
constexpr std::size_t kMostOutboxBytes = 16 * 1024;

void DeactivateInput(HANDLE device)
{
    DeactivateDevice(device);
}
using OwnedActivation = Owned<HANDLE, DeactivateInput>;

InputCountersRecord& CountersOf(std::size_t input)
{
    return RelayCounters.inputs[input];
}

void Say(const std::string& line)
{
    OutputDebugStringW(platform::ToUtf16(line + "\n").c_str());
}

}  // namespace

struct InputSources::Inbox {
    std::mutex mutex;
    std::vector<InputArrival> arrivals;
    std::size_t bytes = 0;
    OwnedHandle arrived;

    // Keeps what `input` read (or that it was lost) for the worker and wakes it.
    void Put(std::size_t input, std::span<const unsigned char> read, bool lost)
    {
        if (!read.empty()) {
            CountAdd(CountersOf(input).bytes, read.size());
            CountersOf(input).lastByteAt.store(SteadyNow(), std::memory_order_relaxed);
        }
        {
            const std::lock_guard lock(mutex);
            if (bytes + read.size() > kMostInboxBytes) {
                return;
            }
            bytes += read.size();
            if (!lost && !arrivals.empty() && arrivals.back().input == input && !arrivals.back().lost) {
                arrivals.back().bytes.insert(arrivals.back().bytes.end(), read.begin(), read.end());
            } else {
                arrivals.push_back({input, {read.begin(), read.end()}, lost});
            }
        }
        SetEvent(arrived.get());
    }
};

// A serial input, read on a thread of the platform's, like the main input.
struct SerialReader {
    std::size_t number = 0;
    WCHAR deviceName[kDeviceNameSize] = {};
    DWORD baudRate = 0;
    std::string init;   // sent at each open
    std::shared_ptr<InputSources::Inbox> inbox;
    OwnedActivation activation;   // the device made for a host path
    OwnedHandle stop;
    OwnedHandle thread;
    CSerial port;
    OwnedHandle received;
    BYTE buffer[kReadSize] = {};
    // What the outputs' programs say to this input, written by the reader's
    // thread, which owns the port; `said` (auto-reset) wakes it.
    std::mutex outboxMutex;
    std::vector<unsigned char> outbox;
    OwnedHandle said;

    ~SerialReader()
    {
        SetEvent(stop.get());
        if (thread.get() != nullptr) {
            WaitForSingleObject(thread.get(), INFINITE);
        }
    }
};

struct InputSources::Reader {
    std::unique_ptr<SerialReader> serial;
    std::unique_ptr<tavrel::network::TcpSource> tcp;
    std::unique_ptr<tavrel::network::UdpListener> udp;
};

namespace {

bool Stopped(const SerialReader& reader, DWORD wait)
{
    return WaitForSingleObject(reader.stop.get(), wait) != WAIT_TIMEOUT;
}

// The input's start-up command, each time it is opened; one that cannot be
// sent costs a debug line.
void SendInit(SerialReader& reader)
{
    DWORD written = 0;
    if (!reader.init.empty() &&
        (reader.port.Write(reader.init.data(), static_cast<DWORD>(reader.init.size()), &written, nullptr, INFINITE) != 0 ||
         written != reader.init.size())) {
        Say("Input " + std::to_string(reader.number) + ": its start-up command could not be sent");
    }
}

bool OpenSerial(SerialReader& reader)
{
    if (reader.port.Open(reader.deviceName, 0, 0, false) != 0) {
        return false;
    }
    if (reader.port.Setup(reader.baudRate, 8, NOPARITY, ONESTOPBIT) != 0 || reader.port.SetMask(EV_RXCHAR) != 0 ||
        reader.port.SetupReadTimeouts(CSerial::ReadNonBlocking) != 0) {
        reader.port.Close();
        return false;
    }
    COMMTIMEOUTS timeouts{};
    if (GetCommTimeouts(reader.port.portHandle, &timeouts)) {
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = kWriteMilliseconds;
        SetCommTimeouts(reader.port.portHandle, &timeouts);
    }
    HANDLE received = nullptr;
    reader.port.CreateReceiveEvent(&received);
    reader.received.Reset(received);
    SendInit(reader);
    return true;
}

// Writes what waits in the outbox: the talk arrives rate-limited, so the
// port's buffer takes it; the write's time-out bounds a receiver that holds
// the line.
void WriteOutbox(SerialReader& reader)
{
    std::vector<unsigned char> bytes;
    {
        const std::lock_guard lock(reader.outboxMutex);
        bytes.swap(reader.outbox);
    }
    DWORD written = 0;
    if (!bytes.empty()) {
        reader.port.Write(bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr, INFINITE);
    }
}

// Reads until the input fails (false) or the stop (true).
bool ReadSerial(SerialReader& reader)
{
    for (;;) {
        HANDLE objects[3] = {reader.stop.get(), reader.said.get(), reader.received.get()};
        const DWORD waited = reader.received.get() != nullptr ? 3 : 2;
        const DWORD woke = WaitForMultipleObjects(waited, objects, FALSE, waited == 3 ? INFINITE : kPollMilliseconds);
        if (woke == WAIT_OBJECT_0) {
            return true;
        }
        if (woke == WAIT_FAILED) {
            return false;
        }
        if (woke == WAIT_OBJECT_0 + 1) {
            WriteOutbox(reader);
            continue;
        }
        DWORD count = 0;
        do {
            if (reader.port.Read(reader.buffer, kReadSize, &count, nullptr, INFINITE) != 0) {
                return false;
            }
            reader.inbox->Put(reader.number, std::span<const unsigned char>(reader.buffer, count), false);
        } while (count == kReadSize && !Stopped(reader, 0));
    }
}

DWORD ReadSerialInput(LPVOID context)
{
    SerialReader& reader = *static_cast<SerialReader*>(context);
    InputCountersRecord& counters = CountersOf(reader.number);
    while (!Stopped(reader, 0)) {
        if (OpenSerial(reader)) {
            SetInputState(counters, InputState::Relaying);
            const bool stopped = ReadSerial(reader);
            reader.received.Reset();
            reader.port.Close();
            if (stopped) {
                break;
            }
            SetInputState(counters, InputState::Lost);
            reader.inbox->Put(reader.number, {}, true);
            Say("Input " + std::to_string(reader.number) + " lost; trying to open it again every second");
        }
        if (Stopped(reader, kRetryMilliseconds)) {
            break;
        }
    }
    return 0;
}

// The device through which the host path `path` is read: a key of the
// built-in serial driver of its own, "INP<n>:", whose every open opens the
// path anew.
bool ActivateHostPath(SerialReader& reader, const std::string& path)
{
    WCHAR key[40] = {};
    StringCchPrintfW(key, 40, u"Drivers\\TavrelInput%d", static_cast<int>(reader.number));
    {
        const platform::RegistryKey driver(HKEY_LOCAL_MACHINE, key, platform::RegistryKey::Open::OrCreate);
        if (!driver || !driver.SetText(u"Dll", u"serial.dll") || !driver.SetText(u"Prefix", u"INP") ||
            !driver.SetNumber(u"Index", static_cast<DWORD>(reader.number)) ||
            !driver.SetText(u"HostDevice", platform::ToUtf16(path))) {
            return false;
        }
    }
    reader.activation.Reset(ActivateDeviceEx(key, nullptr, 0, nullptr));
    StringCchPrintfW(reader.deviceName, kDeviceNameSize, u"INP%d:", static_cast<int>(reader.number));
    return reader.activation.get() != nullptr;
}

std::unique_ptr<SerialReader> StartSerial(std::size_t number, const ExtraInput& input,
                                          std::shared_ptr<InputSources::Inbox> inbox)
{
    auto reader = std::make_unique<SerialReader>();
    reader->number = number;
    reader->baudRate = input.baudRate;
    reader->init = input.init;
    reader->inbox = std::move(inbox);
    if (input.comPort) {
        StringCchPrintfW(reader->deviceName, kDeviceNameSize, u"COM%d:", *input.comPort);
    } else if (!ActivateHostPath(*reader, input.device)) {
        Say("Input " + std::to_string(number) + ": no device can be made for " + input.device);
        return nullptr;
    }
    reader->stop.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    reader->said.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    reader->thread.Reset(CreateThread(nullptr, 0, ReadSerialInput, reader.get(), 0, nullptr));
    return reader->thread.get() != nullptr ? std::move(reader) : nullptr;
}

InputState StateOfTcp(const tavrel::network::TcpSourceHealth& health, bool everConnected)
{
    if (health.state == tavrel::network::TcpSourceState::Connected) {
        return InputState::Relaying;
    }
    return everConnected ? InputState::Lost : InputState::Waiting;
}

void StartNetwork(std::size_t number, const ExtraInput& input, const std::shared_ptr<InputSources::Inbox>& inbox,
                  InputSources::Reader& reader)
{
    std::string failure;
    auto deliver = [inbox, number](std::span<const unsigned char> bytes) { inbox->Put(number, bytes, false); };
    if (input.kind == ExtraInputKind::Udp) {
        reader.udp = tavrel::network::UdpListener::Start({input.port, input.group}, deliver, failure);
        if (reader.udp != nullptr) {
            SetInputState(CountersOf(number), InputState::Relaying);
        }
    } else {
        tavrel::network::TcpSourceOptions options;
        options.host = input.device;
        options.port = input.port;
        options.greeting = input.init;
        auto changed = [inbox, number](const tavrel::network::TcpSourceHealth& health) {
            const bool lost = health.state != tavrel::network::TcpSourceState::Connected && health.connectionsMade > 0;
            SetInputState(CountersOf(number), StateOfTcp(health, health.connectionsMade > 0));
            if (lost) {
                inbox->Put(number, {}, true);
            }
        };
        reader.tcp = tavrel::network::TcpSource::Start(options, {deliver, changed}, failure);
    }
    if (!failure.empty()) {
        Say("Input " + std::to_string(number) + ": " + failure);
    }
}

}  // namespace

InputSources::InputSources(const ExtraInputs& inputs) : inbox_(std::make_shared<Inbox>())
{
    inbox_->arrived.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    for (std::size_t i = 0; i < inputs.size() && i + 1 < kMostInputs; ++i) {
        const std::size_t number = i + 1;
        SetInputState(CountersOf(number), InputState::Waiting);
        auto& reader = *readers_.emplace_back(std::make_unique<Reader>());
        if (inputs[i].kind == ExtraInputKind::Serial) {
            reader.serial = StartSerial(number, inputs[i], inbox_);
        } else {
            StartNetwork(number, inputs[i], inbox_, reader);
        }
    }
}

InputSources::~InputSources() = default;

HANDLE InputSources::arrived() const
{
    return inbox_->arrived.get();
}

void InputSources::TakeArrivals(std::vector<InputArrival>& into)
{
    into.clear();
    const std::lock_guard lock(inbox_->mutex);
    into.swap(inbox_->arrivals);
    inbox_->bytes = 0;
}

bool InputSources::MayTalkTo(std::size_t input) const
{
    if (input == 0 || input > readers_.size()) {
        return false;
    }
    const Reader& reader = *readers_[input - 1];
    if (reader.tcp != nullptr) {
        return reader.tcp->Connected();
    }
    return reader.serial != nullptr && CountersOf(input).state.load(std::memory_order_relaxed) == InputState::Relaying;
}

void InputSources::TalkTo(std::size_t input, std::span<const unsigned char> bytes)
{
    if (!MayTalkTo(input)) {
        return;
    }
    if (readers_[input - 1]->tcp != nullptr) {
        readers_[input - 1]->tcp->Send(bytes);   // without waiting: the socket's buffer takes a line rate's worth
        return;
    }
    SerialReader& reader = *readers_[input - 1]->serial;
    {
        const std::lock_guard lock(reader.outboxMutex);
        if (reader.outbox.size() + bytes.size() > kMostOutboxBytes) {
            return;
        }
        reader.outbox.insert(reader.outbox.end(), bytes.begin(), bytes.end());
    }
    SetEvent(reader.said.get());
}
