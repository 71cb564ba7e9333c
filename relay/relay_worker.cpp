#include "relay/relay_worker.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "gpsd/gpsd_handoff.h"

#include "platform/devices.h"
#include "platform/kernel.h"
#include "platform/message_box.h"
#include "platform/strings.h"
#include "relay/input_identity.h"
#include "relay/input_sources.h"
#include "relay/line_merger.h"
#include "relay/network_outputs.h"
#include "relay/output_shaping.h"
#include "relay/owned_handles.h"
#include "relay/reader_pacing.h"
#include "relay/relay_control.h"
#include "relay/relay_counters.h"
#include "relay/talk_back.h"
#include "serial/serial_port.h"
#include "state/app_settings.h"
#include "state/baud_rates.h"
#include "state/port_lists.h"

namespace {

// Each output gets one write per chunk, so a burst read in few, large chunks
// costs few writes. A tty hands over about 4 KiB per read.
constexpr DWORD kReadSize = kRelayReadSize;
constexpr DWORD kStopPollMilliseconds = 100;
// While full chunks keep coming, the stop event is looked at this often.
constexpr DWORD kStopLookMilliseconds = 100;
constexpr UINT kMessageStyle = MB_OK | MB_ICONEXCLAMATION;
constexpr std::size_t kTextSize = 80;
constexpr std::size_t kDeviceNameSize = 10;
constexpr std::size_t kNodePathSize = 4096;   // a host path, as PATH_MAX allows
// How often a lost input is looked for again.
constexpr DWORD kReopenMilliseconds = 1000;
const WCHAR kInputLostLine[] = u"Input port lost; trying to open it again every second\n";
const WCHAR kInputMissingLine[] = u"Input port not found; trying to open it every second\n";
const WCHAR kInputBackLine[] = u"Input port back; relaying again\n";

// One output of the run. Records are made closed and appended before any port
// is opened, so no two records ever share an open port.
struct OutputPort {
    CSerial port;
    HANDLE activationHandle = nullptr;
    WCHAR deviceName[kDeviceNameSize] = {};
    PortNumber portNumber = 0;
};

struct Worker;

// What a run puts where others read it while it is up (the health readers,
// the TCP clients): its counts, every one from zero, and its network outputs.
// Made once the run is up and ended with it, so that no run leaves them to
// the next.
class RunShare {
public:
    explicit RunShare(const Worker& worker);
    ~RunShare();
    RunShare(const RunShare&) = delete;
    RunShare& operator=(const RunShare&) = delete;
};

// What the worker owns for its whole life: one run.
struct Worker {
    std::vector<OutputPort> outputs;
    // The open outputs, for waiting on their readers; made once all are open.
    std::vector<PacedOutput> paced;
    CSerial input;
    BYTE readBuffer[kReadSize] = {};   // written out by its count: no terminator follows a chunk
    WCHAR text[kTextSize] = {};
    WCHAR inputName[kDeviceNameSize] = {};
    // Taken at start-up, so that a reopened input gets the settings it started with.
    DWORD inputBaudRate = 0;
    // Signalled while the input has data; none when its driver cannot tell.
    OwnedHandle inputReceived;
    // Who the input is, so that Reconnect takes back only that receiver.
    InputIdentity inputIdentity;
    // The outputs in gpsd's hands, while the hand-off is on: taken back
    // before the ports close.
    std::optional<tavrel::gpsd::GpsdHandOff> gpsd;
    std::optional<RunShare> share;
    // With extra inputs, every input's lines are merged: the extra inputs'
    // readers, the merge, and what the readers handed over last.
    std::optional<InputSources> extras;
    LineMerge merge;
    std::vector<InputArrival> arrivals;
    // The outputs' shapes, with a shaper for each shape that some output has.
    OutputShaping shaping;
    // What the outputs' programs say to the inputs.
    TalkBack talk;
    TalkInputs talkInputs;
};

bool Merging(const Worker& worker)
{
    return worker.extras.has_value();
}

// The merge's clock: milliseconds of the steady clock.
std::uint64_t MergeNow()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void ShowMessage(LPCWSTR text, LPCWSTR caption = u"Tavrel")
{
    MessageBoxW(nullptr, text, caption, kMessageStyle);
}

// Formats a message naming an output port into the text buffer and shows it.
void ShowPortMessage(Worker& worker, LPCWSTR format, PortNumber port)
{
    StringCchPrintfW(worker.text, kTextSize, format, port);
    ShowMessage(worker.text);
}

void ActivateOutputs(Worker& worker)
{
    worker.outputs.reserve(SplitOutputs.size());
    for (std::size_t i = 0; i < SplitOutputs.size(); ++i) {
        const PortNumber number = SplitOutputs[i];
        OutputPort& output = worker.outputs.emplace_back();
        output.portNumber = number;
        StringCchPrintfW(output.deviceName, kDeviceNameSize, u"COM%d:", number);
        StringCchPrintfW(worker.text, kTextSize, u"Drivers\\quorvel%d", number);
        output.activationHandle = ActivateDeviceEx(worker.text, nullptr, 0, nullptr);
        if (output.activationHandle == nullptr) {
            worker.outputs.pop_back();
            OutputDebugStringW(u"Fallo ActivateDeviceEx\n");
            ShowPortMessage(worker, u"Unable to create COM%d:\nPlease, choose another", number);
        }
    }
}

// Opens and sets up each output in turn; shows the message of the first failure.
bool OpenOutputs(Worker& worker)
{
    for (OutputPort& output : worker.outputs) {
        const bool talks = AppSettings.portOptions.at(output.portNumber).talk != TalkMode::Off;
        if (output.port.Open(output.deviceName, talks ? kTalkQueueBytes : 0, 0, false) != 0) {
            ShowPortMessage(worker, u"Unable to open COM%d:\nPlease, choose another", output.portNumber);
            return false;
        }
        if (output.port.Setup(CBR_115200, 8, NOPARITY, ONESTOPBIT) != 0) {
            ShowPortMessage(worker, u"Unable to setup COM%d:\nPlease, choose another", output.portNumber);
            return false;
        }
    }
    for (OutputPort& output : worker.outputs) {
        worker.paced.push_back(PacedOutput{&output.port});
    }
    return true;
}

// The steps that bring up the input, in their order; each has its message.
enum class InputStep { Ready, Open, Setup, Mask, Timeouts };

// What the relay writes to the input (its start-up command, what the
// outputs' programs say) waits at most this long for a receiver that holds
// the line: the stream from it must not wait behind a write to it.
constexpr DWORD kInputWriteMilliseconds = 50;

bool BoundInputWrites(CSerial& input)
{
    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(input.portHandle, &timeouts)) {
        return false;
    }
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kInputWriteMilliseconds;
    return SetCommTimeouts(input.portHandle, &timeouts) != FALSE;
}

// Opens the input and sets it up, with its receive event when its driver can
// tell when data arrives (without one the input is polled). The step that
// failed, if any; it writes no message.
InputStep SetUpInput(Worker& worker)
{
    if (worker.input.Open(worker.inputName, 0, 0, false) != 0) {
        return InputStep::Open;
    }
    if (worker.input.Setup(worker.inputBaudRate, 8, NOPARITY, ONESTOPBIT) != 0) {
        return InputStep::Setup;
    }
    if (worker.input.SetMask(EV_RXCHAR) != 0) {
        return InputStep::Mask;
    }
    if (worker.input.SetupReadTimeouts(CSerial::ReadNonBlocking) != 0 || !BoundInputWrites(worker.input)) {
        return InputStep::Timeouts;
    }
    HANDLE received = nullptr;
    worker.input.CreateReceiveEvent(&received);
    worker.inputReceived.Reset(received);
    return InputStep::Ready;
}

void ShowInputFailure(InputStep step)
{
    switch (step) {
    case InputStep::Open: ShowMessage(u"Unable to open input port"); break;
    case InputStep::Setup: ShowMessage(u"Unable to setup input port"); break;
    case InputStep::Mask: ShowMessage(u"Unable to SetMask on input port", u"Test"); break;
    case InputStep::Timeouts: ShowMessage(u"Unable to setup timeouts on input port"); break;
    case InputStep::Ready: break;
    }
}

bool ReconnectOn()
{
    return AppSettings.reconnect.load() != 0;
}

enum class InputAtStart { Ready, Missing, Failed };

// Brings up the input at start-up; shows the message of a failure. With
// Reconnect on, an input that cannot be opened (a receiver unplugged when an
// unattended start comes) is Missing: the run starts without it and waits for
// it. An input that opened but cannot be set up stays a failure, and so does
// a port number whose name does not fit: no device can ever have that name.
InputAtStart OpenInput(Worker& worker)
{
    const HRESULT named = StringCchPrintfW(worker.inputName, kDeviceNameSize, u"COM%d:", AppSettings.inputPort);
    if (FAILED(named)) {
        ShowMessage(u"Unable to open input port");
        return InputAtStart::Failed;
    }
    worker.inputBaudRate = BaudRateOf(AppSettings.baudIndex);
    const InputStep failed = SetUpInput(worker);
    if (failed == InputStep::Ready) {
        return InputAtStart::Ready;
    }
    if (failed == InputStep::Open && ReconnectOn()) {
        OutputDebugStringW(kInputMissingLine);
        return InputAtStart::Missing;
    }
    ShowInputFailure(failed);
    return InputAtStart::Failed;
}

// Sends the main input its start-up command (a receiver's rate or sentence
// set), each time it is opened: after any purge, so that nothing takes it
// back. A receiver that cannot take it costs a debug line, never the run.
void SendInputInit(Worker& worker)
{
    const std::string& command = AppSettings.inputInit;
    if (command.empty()) {
        return;
    }
    DWORD written = 0;
    if (worker.input.Write(command.data(), static_cast<DWORD>(command.size()), &written, nullptr, INFINITE) != 0 ||
        written != command.size()) {
        OutputDebugStringW(u"Input port: its start-up command could not be sent\n");
    }
}

void CloseInput(Worker& worker)
{
    worker.inputReceived.Reset();
    worker.input.Close();
}

// With the hand-off on, tells gpsd of its output, so that it reads it from
// now on: one port only, since the readers of one port share what arrives,
// and gpsd would see the same receiver on each. That happens beside the
// relay: a gpsd that cannot be told costs a debug line, never a byte.
void HandOutputToGpsd(Worker& worker)
{
    if (AppSettings.gpsdHandoff == 0) {
        return;
    }
    PortList outputs;
    for (const OutputPort& output : worker.outputs) {
        outputs.push_back(output.portNumber);
    }
    const std::optional<PortNumber> port = GpsdPortAmong(outputs);
    if (!port) {
        StringCchPrintfW(worker.text, kTextSize, u"gpsd hand-off: COM%d is not an output; gpsd gets no port\n",
                         AppSettings.gpsdPort);
        OutputDebugStringW(worker.text);
        return;
    }
    RelayCounters.gpsdPort = *port;
    std::vector<std::string> paths;
    WCHAR name[kDeviceNameSize] = {};
    StringCchPrintfW(name, kDeviceNameSize, u"COM%d:", *port);
    char path[kNodePathSize];
    if (GetDeviceNodePath(name, path, sizeof path) == ERROR_SUCCESS) {
        paths.emplace_back(path);
    }
    try {
        worker.gpsd.emplace(platform::ToUtf8(AppSettings.gpsdSocket), std::move(paths));
    } catch (const std::system_error&) {
        OutputDebugStringW(u"gpsd hand-off: no thread to talk to gpsd\n");
    }
}

// The talk of the run: the outputs set to talk, and who they talk to. The
// main input is written to while it is open; the extra inputs take what
// their readers can send.
void StartTalk(Worker& worker)
{
    std::vector<std::pair<CSerial*, OutputOptions>> outputs;
    for (OutputPort& output : worker.outputs) {
        outputs.emplace_back(&output.port, AppSettings.portOptions.at(output.portNumber));
    }
    const auto lineRate = [&worker](std::size_t input) {
        const ExtraInputs& extras = AppSettings.extraInputs;
        const DWORD baud = input == 0                 ? worker.inputBaudRate
                           : input <= extras.size() && extras[input - 1].kind == ExtraInputKind::Serial
                               ? extras[input - 1].baudRate
                               : CBR_115200;
        return static_cast<std::uint32_t>(baud / 10);
    };
    StartTalkBack(worker.talk, outputs, AppSettings.tcpOptions, lineRate);
    worker.talkInputs.ready = [&worker](std::size_t input) {
        return input == 0 ? worker.input.portHandle != nullptr : Merging(worker) && worker.extras->MayTalkTo(input);
    };
    worker.talkInputs.send = [&worker](std::size_t input, std::span<const unsigned char> bytes) {
        if (input != 0) {
            worker.extras->TalkTo(input, bytes);
            return;
        }
        DWORD written = 0;
        worker.input.Write(bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr, INFINITE);
    };
}

// Sorts the outputs by shape: each virtual port's, the TCP server's and the
// UDP target's.
void StartShapingOutputs(Worker& worker)
{
    std::vector<OutputShape> shapes;
    for (const OutputPort& output : worker.outputs) {
        shapes.push_back(AppSettings.portOptions.at(output.portNumber).shape);
    }
    StartShaping(worker.shaping, shapes, AppSettings.tcpOptions.shape, AppSettings.udpOptions.shape);
    for (std::size_t i = 0; i < shapes.size() && i < kMostOutputs; ++i) {
        RelayCounters.outputs[i].shaped = !shapes[i].Transparent();
        RelayCounters.outputs[i].talk = AppSettings.portOptions.at(worker.outputs[i].portNumber).talk;
    }
    RelayCounters.outputs[kTcpOutputCounts].shaped = !AppSettings.tcpOptions.shape.Transparent();
    RelayCounters.outputs[kTcpOutputCounts].talk = AppSettings.tcpOptions.talk;
    RelayCounters.outputs[kUdpOutputCounts].shaped = !AppSettings.udpOptions.shape.Transparent();
}

// Writes `bytes` (zero bytes included) to the outputs of `to` in list order,
// then hands them to the network outputs among them. A failed write stops
// neither the other outputs nor the loop.
void WriteTo(Worker& worker, const ShapeDestinations& to, std::span<const unsigned char> bytes)
{
    const auto count = static_cast<DWORD>(bytes.size());
    for (const std::size_t i : to.ports) {
        if (worker.outputs[i].port.Write(bytes.data(), count, nullptr, nullptr, INFINITE) == 0) {
            CountAdd(RelayCounters.bytesRelayed[i], count);
        }
    }
    DeliverToNetwork(bytes, to.tcp, to.udp, to.mqtt);
}

// Copies what each shape dropped to the counts of its outputs.
void PublishShapeCounts(const Worker& worker)
{
    for (const ShapeGroup& group : worker.shaping.groups) {
        const ShapeCounts& counts = group.shaper.Counts();
        const auto publish = [&counts](std::size_t output) {
            OutputCountersRecord& record = RelayCounters.outputs[output];
            record.filtered.store(counts.filtered, std::memory_order_relaxed);
            record.badChecksum.store(counts.badChecksum, std::memory_order_relaxed);
            record.decimated.store(counts.decimated, std::memory_order_relaxed);
        };
        for (const std::size_t port : group.to.ports) {
            publish(port);
        }
        if (group.to.tcp) {
            publish(kTcpOutputCounts);
        }
        if (group.to.udp) {
            publish(kUdpOutputCounts);
        }
    }
}

// Writes `bytes` to every output: as they are to the transparent ones, then
// shaped to the others, each shape's lines to the outputs that have it.
void WriteToOutputs(Worker& worker, std::span<const unsigned char> bytes)
{
    if (!Shaping(worker.shaping)) {
        WriteTo(worker, worker.shaping.transparent, bytes);
        return;
    }
    DeliverShaped(worker.shaping, bytes, MergeNow(),
                  [&worker](const ShapeDestinations& to, std::span<const unsigned char> shaped) {
                      WriteTo(worker, to, shaped);
                  });
    PublishShapeCounts(worker);
}

// Copies the merge's counts of every input where the health readers look.
void PublishMergeCounts(const Worker& worker, std::uint64_t now)
{
    for (std::size_t input = 0; input < worker.merge.inputs.size(); ++input) {
        const MergedInputCounts counts = MergeCounts(worker.merge, input, now);
        InputCountersRecord& record = RelayCounters.inputs[input];
        record.lines.store(counts.lines, std::memory_order_relaxed);
        record.torn.store(counts.torn, std::memory_order_relaxed);
        const InputState state = record.state.load(std::memory_order_relaxed);
        if (counts.standingBy && state == InputState::Relaying) {
            SetInputState(record, InputState::StandingBy);
        } else if (!counts.standingBy && state == InputState::StandingBy) {
            SetInputState(record, InputState::Relaying);
        }
    }
}

// One chunk of the main input: straight to the outputs, or into the merge.
void WriteChunk(Worker& worker, DWORD count)
{
    CountAdd(RelayCounters.bytesRead, count);
    RelayCounters.lastByteAt.store(SteadyNow(), std::memory_order_relaxed);
    const std::span<const unsigned char> chunk(worker.readBuffer, count);
    if (!Merging(worker)) {
        CountAdd(RelayCounters.inputs[0].lines, static_cast<std::uint64_t>(std::count(chunk.begin(), chunk.end(), '\n')));
        WriteToOutputs(worker, chunk);
        return;
    }
    const std::uint64_t now = MergeNow();
    FeedMerge(worker.merge, 0, chunk, now);
    PublishMergeCounts(worker, now);
}

// Feeds the merge what the extra inputs read; a lost input's partial line goes out as it is.
void ServeArrivals(Worker& worker)
{
    worker.extras->TakeArrivals(worker.arrivals);
    const std::uint64_t now = MergeNow();
    for (const InputArrival& arrival : worker.arrivals) {
        if (arrival.lost) {
            FlushMergeInput(worker.merge, arrival.input, now);
        } else {
            FeedMerge(worker.merge, arrival.input, arrival.bytes, now);
        }
    }
    TickMerge(worker.merge, now);
    PublishMergeCounts(worker, now);
}

// Starts the extra inputs' readers and the merge of every input's lines.
void StartMerging(Worker& worker)
{
    const ExtraInputs& inputs = AppSettings.extraInputs;
    if (inputs.empty()) {
        return;
    }
    std::vector<MergeRule> rules(1);
    for (const ExtraInput& input : inputs) {
        rules.push_back({input.standbyFor, std::uint64_t{input.standbySeconds} * 1000});
    }
    rules.resize(std::min(rules.size(), kMostInputs));
    // A torn line has no end: the shaped outputs drop it rather than join it
    // to the next one.
    StartMerge(worker.merge, std::move(rules),
               [&worker](std::size_t, std::span<const unsigned char> line, bool torn) {
                   WriteToOutputs(worker, line);
                   if (torn) {
                       BreakShaping(worker.shaping);
                   }
               },
               MergeNow());
    worker.extras.emplace(inputs);
}

// Ends the extra inputs and sends what the merge still holds.
void StopMerging(Worker& worker)
{
    if (!Merging(worker)) {
        return;
    }
    worker.extras.reset();
    FlushMerge(worker.merge, MergeNow());
}

// Closes the input and every output, and deactivates every virtual port that
// was activated, opened or not.
void CloseAll(Worker& worker)
{
    StopTalkBack(worker.talk);
    StopMerging(worker);
    worker.share.reset();
    // gpsd lets go of the outputs before they close, instead of finding them hung up.
    worker.gpsd.reset();
    CloseInput(worker);
    worker.paced.clear();
    for (OutputPort& output : worker.outputs) {
        output.port.Close();
        DeactivateDevice(output.activationHandle);
    }
    worker.outputs.clear();
}

// Makes the counts of a run that starts: its input, and its outputs as they
// are open now.
void StartCounting(const Worker& worker)
{
    RelayCounters.inputPort = AppSettings.inputPort;
    RelayCounters.baudRate = worker.inputBaudRate;
    RelayCounters.bytesRead = 0;
    RelayCounters.readFailures = 0;
    RelayCounters.lastByteAt = 0;
    RelayCounters.waitingForReceiver = false;
    RelayCounters.inputRefusal = COMM_DEVICE_SAME;
    RelayCounters.gpsdPort = kNoGpsdPort;
    StartCountingInputs(AppSettings.extraInputs);
    const std::size_t count = std::min(worker.outputs.size(), kMostOutputs);
    for (std::size_t i = 0; i < count; ++i) {
        RelayCounters.outputPorts[i] = worker.outputs[i].portNumber;
        RelayCounters.bytesRelayed[i] = 0;
    }
    RelayCounters.outputCount = count;
    for (OutputCountersRecord& record : RelayCounters.outputs) {
        for (auto* counter : {&record.filtered, &record.badChecksum, &record.decimated, &record.talkedBytes,
                              &record.talkedLines, &record.talkDropped}) {
            counter->store(0, std::memory_order_relaxed);
        }
    }
    RelayCounters.relaying = true;
}

RunShare::RunShare(const Worker& worker)
{
    StartCounting(worker);
    StartNetworkOutputs();
}

RunShare::~RunShare()
{
    StopNetworkOutputs();
    RelayCounters.relaying = false;
    RelayCounters.outputCount = 0;
    RelayCounters.inputCount = 0;
}

// The input is lost or back: counted, and the window told.
void SetWaitingForReceiver(Worker& worker, bool waiting)
{
    RelayCounters.waitingForReceiver = waiting;
    InputCountersRecord& main = RelayCounters.inputs[0];
    const bool neverThere = main.state.load(std::memory_order_relaxed) == InputState::Waiting;
    SetInputState(main, !waiting ? InputState::Relaying : neverThere ? InputState::Waiting : InputState::Lost);
    if (!waiting) {
        ForgetRefusal(worker.inputIdentity);
    }
    NotifyRelayHealthChanged();
}

enum class RelayEnd { Stopped, ReadFailed, WaitFailed };

// How a wait of the worker ended: the stop event, always the first object,
// was signalled; the wait ended the way that lets relaying go on (`goOn`: its
// time-out, or the input's data); or it failed. Any other result (WAIT_FAILED,
// an abandoned or unknown object) fails the run. Taken for a stop, it would
// end the run as though one had been asked for: exit code 0, `running` left
// set, and an acknowledgement that nobody waits for. A failure gets a debug
// line with the wait's result and the last error.
enum class Wake { Stop, GoOn, Failed };

Wake WakeOf(DWORD result, DWORD goOn)
{
    if (result == goOn) {
        return Wake::GoOn;
    }
    if (result == WAIT_OBJECT_0) {
        return Wake::Stop;
    }
    WCHAR line[kTextSize] = {};
    StringCchPrintfW(line, kTextSize, u"Relay wait failed: result 0x%X, error %u\n", result, GetLastError());
    OutputDebugStringW(line);
    return Wake::Failed;
}

// How relaying ends after a wait that does not let it go on.
RelayEnd EndOf(Wake wake)
{
    return wake == Wake::Stop ? RelayEnd::Stopped : RelayEnd::WaitFailed;
}

// What is left of `timeout` milliseconds since `started`.
DWORD Remaining(DWORD started, DWORD timeout)
{
    if (timeout == INFINITE) {
        return INFINITE;
    }
    const DWORD elapsed = GetTickCount() - started;
    return elapsed >= timeout ? 0 : timeout - elapsed;
}

// How long the worker may sleep before the merge's or the talk's next
// deadline, at most `wait`.
DWORD UntilDeadline(const Worker& worker, DWORD wait)
{
    std::optional<std::uint64_t> deadline = NextTalkDeadline(worker.talk, worker.talkInputs);
    if (const std::optional<std::uint64_t> merge = Merging(worker) ? NextMergeDeadline(worker.merge) : std::nullopt;
        merge && (!deadline || *merge < *deadline)) {
        deadline = merge;
    }
    if (!deadline) {
        return wait;
    }
    const std::uint64_t now = MergeNow();
    const std::uint64_t until = *deadline > now ? *deadline - now : 0;
    return static_cast<DWORD>(std::min<std::uint64_t>(until, wait));
}

// What the worker serves while it waits: the extra inputs' arrivals and the
// merge's deadlines, and what the outputs' programs say.
void ServeWhileWaiting(Worker& worker)
{
    if (Merging(worker)) {
        ServeArrivals(worker);
    }
    if (Talking(worker.talk)) {
        ServeTalk(worker.talk, MergeNow(), worker.talkInputs);
    }
}

// Waits, as WaitForMultipleObjects does, on the stop event and `main` (none:
// the stop alone) for at most `timeout`: WAIT_OBJECT_0 for the stop,
// WAIT_OBJECT_0 + 1 for `main`, WAIT_TIMEOUT, or a failure. While merging or
// talking, it serves the extra inputs' arrivals, the merge's deadlines and
// the talk meanwhile, so that they go on while the main input is idle or
// lost. The stop comes first and wins a tie; the main input's data comes
// before the rest.
DWORD WaitForStopOr(Worker& worker, HANDLE main, DWORD timeout)
{
    HANDLE objects[MAXIMUM_WAIT_OBJECTS] = {RelayControl.stopEvent.get()};
    DWORD count = 1;
    if (main != nullptr) {
        objects[count++] = main;
    }
    if (!Merging(worker) && !Talking(worker.talk)) {
        return WaitForMultipleObjects(count, objects, FALSE, timeout);
    }
    const DWORD firstServed = WAIT_OBJECT_0 + count;
    if (Merging(worker)) {
        objects[count++] = worker.extras->arrived();
    }
    AddTalkWaits(worker.talk, objects, count, MAXIMUM_WAIT_OBJECTS);
    const DWORD started = GetTickCount();
    for (;;) {
        const DWORD wait = UntilDeadline(worker, Remaining(started, timeout));
        const DWORD result = WaitForMultipleObjects(count, objects, FALSE, wait);
        if ((result >= firstServed && result < WAIT_OBJECT_0 + count) || result == WAIT_TIMEOUT) {
            ServeWhileWaiting(worker);
            if (result == WAIT_TIMEOUT && Remaining(started, timeout) == 0) {
                return WAIT_TIMEOUT;
            }
            if (const DWORD paced = WaitForLaggingReaders(worker.paced, objects[0]); paced != WAIT_TIMEOUT) {
                return paced;
            }
            continue;
        }
        return result;
    }
}

// Waits until the stop event is signalled or the input has data. An input
// whose driver cannot tell when data arrives is read each time the wait on
// the stop event alone times out. Both ends of the wait are told at once,
// so it needs no time-out otherwise: an idle input costs no wake-ups.
Wake WaitForInputOrStop(Worker& worker)
{
    if (worker.inputReceived.get() == nullptr) {
        return WakeOf(WaitForStopOr(worker, nullptr, kStopPollMilliseconds), WAIT_TIMEOUT);
    }
    return WakeOf(WaitForStopOr(worker, worker.inputReceived.get(), INFINITE), WAIT_OBJECT_0 + 1);
}

// Between full chunks, which are read back to back: looks at the stop event,
// without waiting, once the last look is 100 ms old, so that an input faster
// than the relay cannot hold off a stop.
Wake LookForStopDuringBurst(DWORD& lastLook)
{
    const DWORD now = GetTickCount();
    if (now - lastLook < kStopLookMilliseconds) {
        return Wake::GoOn;
    }
    lastLook = now;
    return WakeOf(WaitForSingleObject(RelayControl.stopEvent.get(), 0), WAIT_TIMEOUT);
}

// Waits for data or the stop, and drains a backlog in full chunks without waiting.
RelayEnd Relay(Worker& worker)
{
    for (;;) {
        if (const Wake wake = WaitForInputOrStop(worker); wake != Wake::GoOn) {
            return EndOf(wake);
        }
        DWORD lastLook = GetTickCount();
        DWORD count = 0;
        do {
            count = 0;
            if (worker.input.Read(worker.readBuffer, kReadSize, &count, nullptr, INFINITE) != 0) {
                CountAdd(RelayCounters.readFailures, 1);
                return RelayEnd::ReadFailed;
            }
            if (count != 0) {
                WriteChunk(worker, count);
                const DWORD paced = WaitForLaggingReaders(worker.paced, RelayControl.stopEvent.get());
                if (const Wake wake = WakeOf(paced, WAIT_TIMEOUT); wake != Wake::GoOn) {
                    return EndOf(wake);
                }
            }
            if (count == kReadSize) {
                if (const Wake wake = LookForStopDuringBurst(lastLook); wake != Wake::GoOn) {
                    return EndOf(wake);
                }
            }
        } while (count == kReadSize);
    }
}

// Opens the input again and sets it up, when what has its name now is the
// receiver that the run had: another device that took the name (another
// program's terminal, a second adapter) is left alone, and unopened.
bool TakeInputBack(Worker& worker)
{
    if (!MayTakeInput(worker.inputIdentity, worker.inputName)) {
        return false;
    }
    if (SetUpInput(worker) == InputStep::Ready && TookSameInput(worker.inputIdentity, worker.input)) {
        SendInputInit(worker);
        return true;
    }
    CloseInput(worker);
    return false;
}

// Waits for a lost input: tries to take it back, from the same device name,
// once a second, sleeping on the stop event in between, so that a stop ends
// the wait at once. The outputs stay open and get nothing meanwhile. A device
// that comes back as something other than a serial port fails to open at
// every try, and the wait goes on. Nothing once the input is back; otherwise
// how relaying ends: stopped, a failed wait, or ReadFailed when Reconnect has
// been turned off since.
std::optional<RelayEnd> WaitForInput(Worker& worker)
{
    for (;;) {
        const Wake wake = WakeOf(WaitForStopOr(worker, nullptr, kReopenMilliseconds), WAIT_TIMEOUT);
        if (wake != Wake::GoOn) {
            return EndOf(wake);
        }
        if (!ReconnectOn()) {
            return RelayEnd::ReadFailed;
        }
        if (TakeInputBack(worker)) {
            return std::nullopt;
        }
    }
}

// Relays until stopped. With Reconnect on, a failed read does not end the
// run: the input is closed and waited for, and relaying resumes when it is
// back. What reaches a reopened input came after it was found again, so
// nothing is purged then. ReadFailed when a read failed with Reconnect off.
RelayEnd RelayAndReconnect(Worker& worker, bool inputReady)
{
    for (;;) {
        if (!inputReady) {
            SetWaitingForReceiver(worker, true);
            if (const auto end = WaitForInput(worker)) {
                return *end;
            }
            SetWaitingForReceiver(worker, false);
            OutputDebugStringW(kInputBackLine);
        }
        const RelayEnd end = Relay(worker);
        if (end != RelayEnd::ReadFailed || !ReconnectOn()) {
            return end;
        }
        OutputDebugStringW(kInputLostLine);
        if (Merging(worker)) {
            FlushMergeInput(worker.merge, 0, MergeNow());
        } else {
            BreakShaping(worker.shaping);
        }
        CloseInput(worker);
        inputReady = false;
    }
}

DWORD FailStartUp(Worker& worker)
{
    CloseAll(worker);
    RelayControl.running = 0;
    SetEvent(RelayControl.startedEvent.get());
    return 1;
}

// After the start-up was reported: the message, then every port shut, and
// `running` cleared as the last act. No event is signalled: the user
// interface hears of it when the thread ends.
DWORD FailRelaying(Worker& worker, RelayEnd end)
{
    ShowMessage(end == RelayEnd::ReadFailed ? u"Error reading data from the input port"
                                            : u"Error waiting for the input port");
    CloseAll(worker);
    RelayControl.running = 0;
    return 1;
}

}  // namespace

DWORD BaudRateOf(BaudIndex index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= kBaudRates.size()) {
        return CBR_4800;
    }
    return kBaudRates[static_cast<std::size_t>(index)];
}

DWORD ThreadGPSProxy(LPVOID)
{
    OutputDebugStringW(u"ThreadGPSProxy started\n");
    Worker worker;
    ActivateOutputs(worker);
    if (!OpenOutputs(worker)) {
        return FailStartUp(worker);
    }
    const InputAtStart input = OpenInput(worker);
    if (input == InputAtStart::Failed) {
        return FailStartUp(worker);
    }
    StartShapingOutputs(worker);
    StartTalk(worker);
    worker.share.emplace(worker);
    StartMerging(worker);
    RelayControl.running = 1;
    SetEvent(RelayControl.startedEvent.get());
    NotifyRelayHealthChanged();
    const bool inputReady = input == InputAtStart::Ready;
    if (inputReady) {
        SetInputState(RelayCounters.inputs[0], InputState::Relaying);
        RememberInput(worker.inputIdentity, worker.input);
        worker.input.Purge();
        SendInputInit(worker);
    }
    HandOutputToGpsd(worker);

    const RelayEnd end = RelayAndReconnect(worker, inputReady);
    if (end != RelayEnd::Stopped) {
        return FailRelaying(worker, end);
    }
    CloseAll(worker);
    // The stop made its acknowledge event before it signalled; it waits for
    // the thread's end as well, should the event not have been made.
    if (RelayControl.stopAckEvent.get() != nullptr) {
        SetEvent(RelayControl.stopAckEvent.get());
    }
    return 0;
}
