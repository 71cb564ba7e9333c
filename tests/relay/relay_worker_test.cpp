#include <unistd.h>

#include <algorithm>
#include <numeric>
#include <set>

#include <gtest/gtest.h>

#include "platform/boot.h"
#include "platform/debug_capture.h"
#include "platform/devices.h"
#include "platform/kernel.h"
#include "platform/message_box.h"
#include "platform/strings.h"
#include "relay/relay_control.h"
#include "relay/relay_health.h"
#include "relay/relay_run.h"
#include "relay/relay_worker.h"
#include "state/app_settings.h"
#include "state/port_lists.h"
#include "support/message_box_recorder.h"
#include "support/scripted_serial_device.h"
#include "testkit/proc_stats.h"

namespace {

using tavrel::testing::MessageBoxRecorder;
using tavrel::testing::RelayRun;
using tavrel::testing::ScriptedPort;
using tavrel::testing::ScriptedSerialDevices;
using tavrel::testing::SerialCall;

using Bytes = std::vector<BYTE>;
constexpr DWORD kInput = 8;

Bytes Sequence(std::size_t count, BYTE first = 0)
{
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// The worker over scripted ports: the input is COM8, the outputs are the
// scripted ports that the "Drivers\quorvel<n>" keys activate.
class RelayWorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ScriptedSerialDevices::WriteDriverKey(u"Drivers\\BuiltIn\\Gps", kInput);
        input_ = ActivateDeviceEx(u"Drivers\\BuiltIn\\Gps", nullptr, 0, nullptr);
        ASSERT_NE(input_, nullptr);
        for (DWORD n = 0; n <= 9; ++n) {
            if (n != kInput) {
                ScriptedSerialDevices::WriteDriverKey(u"Drivers\\quorvel" + std::u16string(1, static_cast<char16_t>(u'0' + n)), n);
            }
        }
        AppSettings = Settings{};
        AppSettings.inputPort = kInput;
        AppSettings.baudIndex = 12;
        SplitOutputs = {2, 3, 5};
        for (const auto& thread : tavrel::testing::SampleThreads(std::vector<pid_t>{::getpid()})) {
            threadsBefore_.insert(thread.thread);
        }
    }
    void TearDown() override
    {
        SplitOutputs.clear();
        platform::ShutdownDevice();
    }

    ScriptedPort& port(DWORD n) { return devices_.Port(n); }
    ScriptedPort& input() { return devices_.Port(kInput); }

    // Feeds bytes and waits until the worker has taken them all.
    bool FeedAndDrain(const Bytes& bytes)
    {
        input().Feed(bytes);
        for (int i = 0; i < 2000 && input().Pending() != 0; ++i) {
            Sleep(10);
        }
        return input().Pending() == 0;
    }

    // Waits up to 20 s for the condition.
    template <typename Condition>
    static bool WaitUntil(Condition condition)
    {
        for (int i = 0; i < 2000 && !condition(); ++i) {
            Sleep(10);
        }
        return condition();
    }

    // The input's calls since the worker purged it, as it does right before
    // its first wait.
    std::vector<tavrel::testing::RecordedCall> CallsSincePurge()
    {
        auto calls = input().Calls();
        const auto purge = std::find_if(calls.begin(), calls.end(),
                                        [](const auto& call) { return call.call == SerialCall::PurgeComm; });
        calls.erase(calls.begin(), purge == calls.end() ? purge : purge + 1);
        return calls;
    }

    // With an input that offers its receive event: true once a thread that
    // the run started (the worker) sleeps in poll() with no time-out, as it
    // does only in its wait for data or the stop.
    bool WaitUntilTheWorkerWaits()
    {
        const pid_t process = ::getpid();
        return WaitUntil([&] {
            const auto threads = tavrel::testing::SampleThreads(std::vector<pid_t>{process});
            return std::any_of(threads.begin(), threads.end(), [&](const auto& thread) {
                return !threadsBefore_.contains(thread.thread) &&
                       tavrel::testing::PollSleepOf(process, thread.thread) == tavrel::testing::PollSleep::Untimed;
            });
        });
    }

    // Stops a run, checks the handshake (acknowledged `within` that time),
    // and that every port is shut.
    void StopAndCheck(RelayRun& run, std::chrono::milliseconds within = std::chrono::seconds(20))
    {
        ASSERT_TRUE(run.Stop(within));
        ASSERT_TRUE(run.WaitEnded());
        EXPECT_EQ(run.ExitCode(), 0u);
        EXPECT_FALSE(input().IsOpen());
        for (PortNumber n : SplitOutputs) {
            EXPECT_FALSE(port(n).IsOpen()) << "COM" << int(n);
            EXPECT_FALSE(port(n).IsActive()) << "COM" << int(n);
        }
    }

    ScriptedSerialDevices devices_;
    std::set<pid_t> threadsBefore_;   // of the test process, before the run
    HANDLE input_ = nullptr;
    platform::DebugOutputCapture debug_;
};

TEST(BaudRates, IndexesMapToTheBaudBoxRatesAndOthersTo4800)
{
    EXPECT_EQ(BaudRateOf(0), 110u);
    EXPECT_EQ(BaudRateOf(5), 4800u);
    EXPECT_EQ(BaudRateOf(7), 14400u);
    EXPECT_EQ(BaudRateOf(12), 115200u);
    EXPECT_EQ(BaudRateOf(13), 128000u);
    EXPECT_EQ(BaudRateOf(14), 256000u);
    EXPECT_EQ(BaudRateOf(15), 4800u);
    EXPECT_EQ(BaudRateOf(100), 4800u);
    EXPECT_EQ(BaudRateOf(-1), 4800u);
}

TEST_F(RelayWorkerTest, StartUpBringsUpEveryPortInOrder)
{
    AppSettings.baudIndex = 14;
    RelayRun run;
    ASSERT_TRUE(run.Start());
    EXPECT_TRUE(run.running());
    EXPECT_EQ(debug_.Count(u"ThreadGPSProxy started\n"), 1u);
    for (PortNumber n : SplitOutputs) {
        ASSERT_TRUE(port(n).IsOpen());
        const DCB dcb = port(n).State();
        EXPECT_EQ(dcb.BaudRate, 115200u);
        EXPECT_EQ(dcb.ByteSize, 8);
        EXPECT_EQ(dcb.Parity, NOPARITY);
        EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    }
    // Outputs are opened one after the other, each before the next, then the input.
    EXPECT_LT(port(2).Calls(SerialCall::SetCommState)[0].sequence, port(3).Calls(SerialCall::Open)[0].sequence);
    EXPECT_LT(port(5).Calls(SerialCall::SetCommState)[0].sequence, input().Calls(SerialCall::Open)[0].sequence);

    const DCB in = input().State();
    EXPECT_EQ(in.BaudRate, 256000u);
    EXPECT_EQ(in.ByteSize, 8);
    EXPECT_EQ(input().Mask(), EV_RXCHAR);
    EXPECT_EQ(input().Timeouts().ReadIntervalTimeout, MAXDWORD);
    // The input is purged once, right after the start-up was reported.
    for (int i = 0; i < 2000 && input().Count(SerialCall::ReadFile) == 0; ++i) {
        Sleep(10);
    }
    const auto purges = input().Calls(SerialCall::PurgeComm);
    ASSERT_EQ(purges.size(), 1u);
    EXPECT_LT(purges[0].sequence, input().Calls(SerialCall::ReadFile).at(0).sequence);
    EXPECT_EQ(purges[0].argument, PURGE_TXCLEAR | PURGE_RXCLEAR);
    StopAndCheck(run);
}

// What an input that offers its receive event says at each question: 0 for
// "no data", 1 for "data", and 'R' for a read, with the bytes it returned.
std::vector<std::pair<int, std::size_t>> Story(const std::vector<tavrel::testing::RecordedCall>& calls)
{
    std::vector<std::pair<int, std::size_t>> story;
    for (const auto& call : calls) {
        if (call.call == SerialCall::ReceiveReady) {
            story.emplace_back(static_cast<int>(call.argument), 0);
        } else if (call.call == SerialCall::ReadFile) {
            story.emplace_back('R', call.data.size());
        }
    }
    return story;
}

TEST_F(RelayWorkerTest, DataThatArrivesWhileTheWorkerWaitsEndsTheWait)
{
    input().OfferReceiveEvent();
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitUntilTheWorkerWaits());
    input().Feed({'$', 'G', 'P'});
    ASSERT_TRUE(WaitUntil([this] { return port(5).Writes().size() == 1; }));
    EXPECT_EQ(port(2).Writes(), (std::vector<Bytes>{{'$', 'G', 'P'}}));

    // The data ended the wait: one read took the bytes, no read came back
    // empty as one after a time-out would, and the wait asked the input
    // nothing around its sleep (its descriptor told it all).
    EXPECT_EQ(Story(CallsSincePurge()), (std::vector<std::pair<int, std::size_t>>{{'R', 3}}));
    StopAndCheck(run);
}

TEST_F(RelayWorkerTest, AStopWhileTheInputIsIdleEndsTheRun)
{
    input().OfferReceiveEvent();
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitUntilTheWorkerWaits());
    StopAndCheck(run);
    // It never read nor asked: an idle input costs it nothing, and the stop ended its wait.
    EXPECT_TRUE(Story(CallsSincePurge()).empty());
}

TEST_F(RelayWorkerTest, ABacklogIsReadInFullChunksBackToBack)
{
    input().OfferReceiveEvent();
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(WaitUntilTheWorkerWaits());
    constexpr std::size_t full = kRelayReadSize;
    input().Feed(Sequence(2 * full + 50));
    ASSERT_TRUE(WaitUntil([this] { return port(5).Writes().size() == 3; }));
    StopAndCheck(run);

    // Three reads with no wait, so no question, between them.
    EXPECT_EQ(Story(CallsSincePurge()),
              (std::vector<std::pair<int, std::size_t>>{{'R', full}, {'R', full}, {'R', 50}}));

    const Bytes all = Sequence(2 * full + 50);
    for (PortNumber n : SplitOutputs) {
        const auto writes = port(n).Writes();
        ASSERT_EQ(writes.size(), 3u) << "COM" << int(n);
        EXPECT_EQ(writes[0], Bytes(all.begin(), all.begin() + full));
        EXPECT_EQ(writes[1], Bytes(all.begin() + full, all.begin() + 2 * full));
        EXPECT_EQ(writes[2], Bytes(all.begin() + 2 * full, all.end()));
    }
    // Each chunk goes to every output, in list order, before the next chunk.
    std::vector<std::pair<std::uint64_t, DWORD>> order;
    for (PortNumber n : SplitOutputs) {
        for (const auto& call : port(n).Calls(SerialCall::WriteFile)) {
            order.emplace_back(call.sequence, call.port);
        }
    }
    std::sort(order.begin(), order.end());
    std::vector<DWORD> ports;
    for (const auto& entry : order) {
        ports.push_back(entry.second);
    }
    EXPECT_EQ(ports, (std::vector<DWORD>{2, 3, 5, 2, 3, 5, 2, 3, 5}));
}

// Both kinds of input: one that tells when data arrives, and one that is polled.
class RelayWakeTest : public RelayWorkerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RelayWakeTest, AStopEndsTheRunWhileTheInputKeepsDeliveringFullChunks)
{
    if (GetParam()) {
        input().OfferReceiveEvent();
    }
    RelayRun run;
    ASSERT_TRUE(run.Start());
    // An input faster than the relay: every read finds a full chunk waiting.
    input().OnRead([this] { input().Feed(Sequence(kRelayReadSize)); });
    input().Feed(Sequence(kRelayReadSize));
    ASSERT_TRUE(WaitUntil([this] { return input().Count(SerialCall::ReadFile) >= 20; }));
    StopAndCheck(run);
    input().OnRead(nullptr);
    // The stop was seen within the burst: every read still came back full.
    for (const auto& read : input().Calls(SerialCall::ReadFile)) {
        ASSERT_EQ(read.data.size(), kRelayReadSize);
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, RelayWakeTest, ::testing::Bool(),
                         [](const auto& kind) { return kind.param ? "Announcing" : "Polled"; });

TEST_F(RelayWorkerTest, EveryByteOfAChunkIsForwardedZerosIncluded)
{
    RelayRun run;
    ASSERT_TRUE(run.Start());
    const Bytes leadingZero = {0, 'G', 'P', 0, 0, 'S'};
    ASSERT_TRUE(FeedAndDrain(leadingZero));
    const Bytes binary = Sequence(40, 0xF0);   // wraps through 0x00
    ASSERT_TRUE(FeedAndDrain(binary));
    StopAndCheck(run);
    for (PortNumber n : SplitOutputs) {
        EXPECT_EQ(port(n).Writes(), (std::vector<Bytes>{leadingZero, binary})) << "COM" << int(n);
    }
}

TEST_F(RelayWorkerTest, EmptyReadsWriteNothing)
{
    RelayRun run;
    ASSERT_TRUE(run.Start());
    const std::size_t reads = input().Count(SerialCall::ReadFile);
    EXPECT_TRUE(WaitUntil([&] { return input().Count(SerialCall::ReadFile) >= reads + 3; }));
    StopAndCheck(run);
    for (PortNumber n : SplitOutputs) {
        EXPECT_TRUE(port(n).Writes().empty());
    }
}

TEST_F(RelayWorkerTest, AFailedActivationLeavesThatPortOutWithItsMessage)
{
    MessageBoxRecorder boxes;
    port(3).Fail(SerialCall::Activate, 55);
    RelayRun run;
    ASSERT_TRUE(run.Start());
    EXPECT_TRUE(run.running());
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, u"Unable to create COM3:\nPlease, choose another");
    EXPECT_EQ(shown[0].caption, u"Tavrel");
    EXPECT_EQ(shown[0].type, 48u);
    EXPECT_EQ(shown[0].owner, nullptr);
    EXPECT_EQ(debug_.Count(u"Fallo ActivateDeviceEx\n"), 1u);

    ASSERT_TRUE(FeedAndDrain({'$', 'G'}));
    StopAndCheck(run);
    EXPECT_EQ(port(2).Writes().size(), 1u);
    EXPECT_EQ(port(5).Writes().size(), 1u);
    EXPECT_EQ(port(3).Count(SerialCall::Open), 0u);
}

TEST_F(RelayWorkerTest, WithEveryActivationFailedRelayingRunsWithoutOutputs)
{
    MessageBoxRecorder boxes;
    for (PortNumber n : SplitOutputs) {
        port(n).Fail(SerialCall::Activate, 55);
    }
    RelayRun run;
    ASSERT_TRUE(run.Start());
    EXPECT_TRUE(run.running());
    EXPECT_EQ(boxes.Boxes().size(), 3u);
    ASSERT_TRUE(FeedAndDrain(Sequence(30)));
    StopAndCheck(run);
}

TEST_F(RelayWorkerTest, AnOutputThatFailsToOpenTearsEverythingDown)
{
    MessageBoxRecorder boxes(MessageBoxRecorder::Mode::Hold);
    port(5).Fail(SerialCall::Open, 5);
    RelayRun run;
    run.Launch();
    const auto box = boxes.WaitForBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, u"Unable to open COM5:\nPlease, choose another");
    EXPECT_EQ(box->caption, u"Tavrel");
    // While the message shows, the ports stay as they are.
    EXPECT_TRUE(port(2).IsOpen());
    EXPECT_TRUE(port(3).IsOpen());
    EXPECT_TRUE(port(5).IsActive());
    EXPECT_FALSE(run.StartedSignalled());
    boxes.Answer(IDOK);

    ASSERT_TRUE(run.WaitStarted());
    ASSERT_TRUE(run.WaitEnded());
    EXPECT_EQ(run.ExitCode(), 1u);
    EXPECT_FALSE(run.running());
    for (PortNumber n : SplitOutputs) {
        EXPECT_FALSE(port(n).IsOpen());
        EXPECT_FALSE(port(n).IsActive());
        EXPECT_EQ(port(n).Count(SerialCall::Deactivate), 1u);
    }
    EXPECT_EQ(input().Count(SerialCall::Open), 0u);
}

TEST_F(RelayWorkerTest, AnOutputThatFailsToSetUpNamesItsPort)
{
    MessageBoxRecorder boxes;
    port(3).Fail(SerialCall::SetCommState, 87);
    RelayRun run;
    ASSERT_TRUE(run.Start());
    EXPECT_FALSE(run.running());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, u"Unable to setup COM3:\nPlease, choose another");
    ASSERT_TRUE(run.WaitEnded());
    EXPECT_EQ(port(5).Count(SerialCall::Open), 0u);
    EXPECT_FALSE(port(5).IsActive());
}

struct InputFailure {
    SerialCall call;
    int skip;
    const char16_t* text;
    const char16_t* caption;
};

void PrintTo(const InputFailure& failure, std::ostream* out)
{
    *out << platform::ToUtf8(failure.text);
}

std::string StepName(const ::testing::TestParamInfo<InputFailure>& step)
{
    const char* names[] = {"Open", "Setup", "SetMask", "ReadTimeouts"};
    return names[step.index];
}

class InputFailureTest : public RelayWorkerTest, public ::testing::WithParamInterface<InputFailure> {};

TEST_P(InputFailureTest, IsReportedAndEveryOutputIsShut)
{
    const InputFailure failure = GetParam();
    MessageBoxRecorder boxes;
    input().Fail(failure.call, 31, failure.skip);
    RelayRun run;
    ASSERT_TRUE(run.Start());
    EXPECT_FALSE(run.running());
    ASSERT_TRUE(run.WaitEnded());
    EXPECT_EQ(run.ExitCode(), 1u);
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, failure.text);
    EXPECT_EQ(shown[0].caption, failure.caption);
    EXPECT_EQ(shown[0].type, 48u);
    EXPECT_FALSE(input().IsOpen());
    for (PortNumber n : SplitOutputs) {
        EXPECT_FALSE(port(n).IsOpen());
        EXPECT_FALSE(port(n).IsActive());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, InputFailureTest,
    ::testing::Values(InputFailure{SerialCall::Open, 0, u"Unable to open input port", u"Tavrel"},
                      InputFailure{SerialCall::SetCommState, 0, u"Unable to setup input port", u"Tavrel"},
                      // Open tolerates a failed mask; the worker's own SetMask does not.
                      InputFailure{SerialCall::SetCommMask, 0, u"Unable to SetMask on input port", u"Test"},
                      // Open sets the time-outs once; the worker's second setting fails.
                      InputFailure{SerialCall::SetCommTimeouts, 1, u"Unable to setup timeouts on input port",
                                   u"Tavrel"}),
    StepName);

TEST_F(RelayWorkerTest, InputNumbersWhoseNameDoesNotFitCannotBeOpened)
{
    for (std::int32_t number : {123456, -2147483647 - 1, 7}) {
        MessageBoxRecorder boxes;
        AppSettings.inputPort = number;
        RelayRun run;
        ASSERT_TRUE(run.Start());
        EXPECT_FALSE(run.running());
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text, u"Unable to open input port") << number;
        ASSERT_TRUE(run.WaitEnded());
    }
    EXPECT_EQ(input().Count(SerialCall::Open), 0u);
}

TEST_F(RelayWorkerTest, AReadFailureEndsTheRunWithoutSignallingAnyEvent)
{
    MessageBoxRecorder boxes(MessageBoxRecorder::Mode::Hold);
    RelayRun run;
    ASSERT_TRUE(run.Start());
    input().Fail(SerialCall::ReadFile, 1617);
    const auto box = boxes.WaitForBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, u"Error reading data from the input port");
    EXPECT_TRUE(run.running());   // cleared only after the message
    boxes.Answer(IDOK);
    ASSERT_TRUE(run.WaitEnded());
    EXPECT_EQ(run.ExitCode(), 1u);
    EXPECT_FALSE(run.running());
    EXPECT_FALSE(run.StartedSignalled());
    EXPECT_EQ(RelayControl.stopAckEvent.get(), nullptr);
    for (PortNumber n : SplitOutputs) {
        EXPECT_FALSE(port(n).IsActive());
    }
    EXPECT_EQ(debug_.Count(u"Error: No se puede leer el puerto serie\n"), 1u);
    // With Reconnect off the input is never looked for again.
    EXPECT_EQ(input().Count(SerialCall::Open), 1u);
    EXPECT_EQ(debug_.Count(u"Input port lost; trying to open it again every second\n"), 0u);
}

// ---- A wait that fails ends the run as a failure, never as a stop

const std::u16string kWaitFailedMessage = u"Error waiting for the input port";
// WAIT_FAILED, and the platform's word for a handle that can no longer be waited on.
const std::u16string kWaitFailedLine = u"Relay wait failed: result 0xFFFFFFFF, error 6\n";

class FailedWaitTest : public RelayWorkerTest {
protected:
    // The run ended as after a failure: exit code 1, `running` cleared, no
    // event signalled (a stop's event was made, as a stop makes it, but no
    // stop was signalled), every port shut, and the wait's debug line.
    void ExpectEndedByAFailedWait(RelayRun& run)
    {
        ASSERT_TRUE(run.WaitEnded());
        EXPECT_EQ(run.ExitCode(), 1u);
        EXPECT_FALSE(run.running());
        EXPECT_FALSE(run.WaitAcknowledged(std::chrono::milliseconds(0)));
        EXPECT_FALSE(run.StartedSignalled());   // reported once, at the start, and taken then
        EXPECT_FALSE(input().IsOpen());
        for (PortNumber n : SplitOutputs) {
            EXPECT_FALSE(port(n).IsOpen()) << "COM" << int(n);
            EXPECT_FALSE(port(n).IsActive()) << "COM" << int(n);
        }
        EXPECT_EQ(debug_.Count(kWaitFailedLine), 1u);
    }
    // Closes the run's stop event under the worker, so that its next wait
    // on it fails, and checks how the run ends: with the message, answered at once.
    void EndByClosingTheStopEvent(RelayRun& run, const MessageBoxRecorder& boxes)
    {
        run.PrepareStop();
        ASSERT_EQ(CloseHandle(RelayControl.stopEvent.get()), TRUE);
        ExpectEndedByAFailedWait(run);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text, kWaitFailedMessage);
    }
};

TEST_F(FailedWaitTest, OnTheInputsReceiveEventIsReportedAndShutsEveryPortOnceAnswered)
{
    MessageBoxRecorder boxes(MessageBoxRecorder::Mode::Hold);
    input().OfferReceiveEvent();
    input().BreakReceiveWatch();
    RelayRun run;
    run.PrepareStop();
    ASSERT_TRUE(run.Start());
    const auto box = boxes.WaitForBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, kWaitFailedMessage);
    EXPECT_EQ(box->caption, u"Tavrel");
    EXPECT_EQ(box->type, 48u);
    EXPECT_EQ(box->owner, nullptr);
    // While the message shows, the run holds its ports and is still up.
    EXPECT_TRUE(run.running());
    EXPECT_TRUE(input().IsOpen());
    EXPECT_TRUE(port(2).IsOpen());
    boxes.Answer(IDOK);
    ExpectEndedByAFailedWait(run);
    EXPECT_EQ(boxes.Boxes().size(), 1u);
}

TEST_F(FailedWaitTest, OnAStopEventThatHasGoneWhileAPolledInputRelays)
{
    MessageBoxRecorder boxes;
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(FeedAndDrain({'a'}));
    EndByClosingTheStopEvent(run, boxes);
}

TEST_F(FailedWaitTest, WhileALostInputIsWaitedFor)
{
    AppSettings.reconnect.store(1);
    MessageBoxRecorder boxes;
    RelayRun run;
    ASSERT_TRUE(run.Start());
    input().Fail(SerialCall::Open, ERROR_FILE_NOT_FOUND);
    input().Fail(SerialCall::ReadFile, ERROR_DEVICE_REMOVED);
    ASSERT_TRUE(WaitUntil([this] { return input().Count(SerialCall::Open) >= 2; }));   // a try to reopen it
    EndByClosingTheStopEvent(run, boxes);
}

TEST_F(RelayWorkerTest, AFailingOutputStopsNeitherTheOthersNorTheLoop)
{
    port(3).Fail(SerialCall::WriteFile, 1167);
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(FeedAndDrain({'a'}));
    ASSERT_TRUE(FeedAndDrain({'b'}));
    StopAndCheck(run);
    EXPECT_EQ(port(2).Writes(), (std::vector<Bytes>{{'a'}, {'b'}}));
    EXPECT_EQ(port(5).Writes(), (std::vector<Bytes>{{'a'}, {'b'}}));
    EXPECT_EQ(debug_.Count(u"CSerial::Write - Unable to write the data\n"), 2u);
}

using OutputStory = std::vector<std::pair<char, DWORD>>;

// What an output saw of the relay: 'W' for a write, or 'Q' with the count
// answered when the relay asked how much waits for the output's reader.
OutputStory WritesAndQuestions(const ScriptedPort& output)
{
    OutputStory story;
    for (const auto& call : output.Calls()) {
        if (call.call == SerialCall::WriteFile) {
            story.emplace_back('W', 0);
        } else if (call.call == SerialCall::ClearCommError) {
            story.emplace_back('Q', call.argument);
        }
    }
    return story;
}

constexpr DWORD kFarBehind = 40 * 1024;
constexpr DWORD kHeld = 64 * 1024;

// After each chunk the relay asks every output how far its reader lags; a
// reader far behind holds the next chunk until it has caught up. An output
// whose driver keeps no count (COM5) is never waited for.
TEST_F(RelayWorkerTest, AReaderFarBehindHoldsTheNextChunkUntilItHasCaughtUp)
{
    port(2).AnswerOutQueue({0});
    port(3).AnswerOutQueue({kFarBehind, 0});
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(FeedAndDrain({'a'}));
    ASSERT_TRUE(FeedAndDrain({'b'}));
    StopAndCheck(run);
    EXPECT_EQ(WritesAndQuestions(port(3)), (OutputStory{{'W', 0}, {'Q', kFarBehind}, {'Q', 0}, {'W', 0}, {'Q', 0}}));
    EXPECT_EQ(port(2).Count(SerialCall::ClearCommError), 3u) << "asked as often while the relay waited";
    EXPECT_EQ(port(5).Writes(), (std::vector<Bytes>{{'a'}, {'b'}}));
}

// A reader that does not catch up is waited for once, for a while, and then
// not until it has taken everything; from then on it is waited for again.
TEST_F(RelayWorkerTest, AReaderThatDoesNotCatchUpIsGivenUpUntilItHasTakenEverything)
{
    port(3).AnswerOutQueue({kHeld});
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(FeedAndDrain({'a'}));
    ASSERT_TRUE(FeedAndDrain({'b'}));
    // The question after the second chunk, before anything else changes.
    ASSERT_TRUE(WaitUntil([this] {
        return port(3).Writes().size() == 2 && WritesAndQuestions(port(3)).back().first == 'Q';
    }));
    OutputStory story = WritesAndQuestions(port(3));
    const auto second = std::find(story.begin() + 1, story.end(), OutputStory::value_type{'W', 0});
    ASSERT_NE(second, story.end());
    EXPECT_GE(second - story.begin(), 4) << "it looked again and again before it gave up";
    EXPECT_EQ(story.end() - second, 2) << "given up: one question per chunk";

    port(3).AnswerOutQueue({0, kFarBehind, 0});
    ASSERT_TRUE(FeedAndDrain({'c'}));
    ASSERT_TRUE(FeedAndDrain({'d'}));
    // Waited for again: after the fourth chunk it looks until the reader has caught up.
    const OutputStory lastTwoChunks{{'W', 0}, {'Q', 0}, {'W', 0}, {'Q', kFarBehind}, {'Q', 0}};
    EXPECT_TRUE(WaitUntil([&] {
        story = WritesAndQuestions(port(3));
        return story.size() >= 5 && OutputStory(story.end() - 5, story.end()) == lastTwoChunks;
    })) << ::testing::PrintToString(story);
    StopAndCheck(run);
    EXPECT_EQ(port(3).Writes().size(), 4u);
}

TEST_F(RelayWorkerTest, StartAndStopTwiceEachRunWithItsOwnPorts)
{
    for (int round = 0; round < 2; ++round) {
        RelayRun run;
        ASSERT_TRUE(run.Start());
        ASSERT_TRUE(FeedAndDrain({static_cast<BYTE>('0' + round)}));
        StopAndCheck(run);
    }
    EXPECT_EQ(port(2).Writes(), (std::vector<Bytes>{{'0'}, {'1'}}));
    EXPECT_EQ(port(2).Count(SerialCall::Activate), 2u);
    EXPECT_EQ(port(2).Count(SerialCall::Deactivate), 2u);
}

// ---- Reconnect on: a failed read does not end the run

const std::u16string kInputLost = u"Input port lost; trying to open it again every second\n";
const std::u16string kInputMissing = u"Input port not found; trying to open it every second\n";
const std::u16string kInputBack = u"Input port back; relaying again\n";

class ReconnectTest : public RelayWorkerTest {
protected:
    void SetUp() override
    {
        RelayWorkerTest::SetUp();
        AppSettings.reconnect.store(1);
    }

    // Starts a run that relays 'a', then takes the input away as an unplugged
    // receiver goes: its reads fail, and opening it fails with `openError`.
    void StartAndLoseTheInput(RelayRun& run, DWORD openError = ERROR_FILE_NOT_FOUND)
    {
        ASSERT_TRUE(run.Start());
        ASSERT_TRUE(FeedAndDrain({'a'}));
        input().Fail(SerialCall::Open, openError);
        input().Fail(SerialCall::ReadFile, ERROR_DEVICE_REMOVED);
        ASSERT_TRUE(WaitUntil([this] { return debug_.Count(kInputLost) == 1; }));
    }
    // Waits until the worker has tried to open the input `tries` more times.
    bool WaitForTries(std::size_t tries)
    {
        const std::size_t before = input().Count(SerialCall::Open);
        return WaitUntil([&] { return input().Count(SerialCall::Open) >= before + tries; });
    }
    void PlugBackIn()
    {
        input().Succeed(SerialCall::ReadFile);
        input().Succeed(SerialCall::Open);
    }
    // Every output is still open and active, opened once, and got `writes`.
    void ExpectOutputsKept(const std::vector<Bytes>& writes)
    {
        for (PortNumber n : SplitOutputs) {
            EXPECT_TRUE(port(n).IsOpen()) << "COM" << int(n);
            EXPECT_TRUE(port(n).IsActive()) << "COM" << int(n);
            EXPECT_EQ(port(n).Count(SerialCall::Open), 1u) << "COM" << int(n);
            EXPECT_EQ(port(n).Count(SerialCall::Close), 0u) << "COM" << int(n);
            EXPECT_EQ(port(n).Writes(), writes) << "COM" << int(n);
        }
    }
    // The calls the input received since it was last opened.
    std::vector<SerialCall> CallsSinceLastOpen()
    {
        const auto calls = input().Calls();
        auto open = std::find_if(calls.rbegin(), calls.rend(),
                                 [](const auto& call) { return call.call == SerialCall::Open; });
        std::vector<SerialCall> since;
        for (auto at = open.base(); at != calls.end(); ++at) {
            since.push_back(at->call);
        }
        return since;
    }
};

TEST_F(ReconnectTest, AnInputThatComesBackAsSomethingElseIsRefusedAndOnceItIsBackRelayingResumes)
{
    MessageBoxRecorder boxes;
    RelayRun run;
    // What the serial driver answers for a host path that now leads to a
    // regular file or a folder, and then for one of the device's own ports.
    StartAndLoseTheInput(run, ERROR_NOT_SUPPORTED);
    ASSERT_TRUE(WaitForTries(1));
    input().Fail(SerialCall::Open, ERROR_ACCESS_DENIED);
    ASSERT_TRUE(WaitForTries(2));

    // Meanwhile the run goes on without a word, the outputs stay open and get nothing.
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_TRUE(run.running());
    EXPECT_FALSE(input().IsOpen());
    ExpectOutputsKept({{'a'}});
    EXPECT_EQ(debug_.Count(kInputBack), 0u);

    PlugBackIn();
    ASSERT_TRUE(WaitUntil([this] { return debug_.Count(kInputBack) == 1; }));
    EXPECT_TRUE(input().IsOpen());
    // The input was set up again as at the start, and nothing it holds was dropped.
    const auto setUp = CallsSinceLastOpen();
    for (SerialCall call : {SerialCall::SetCommState, SerialCall::SetCommMask, SerialCall::SetCommTimeouts}) {
        EXPECT_NE(std::find(setUp.begin(), setUp.end(), call), setUp.end()) << static_cast<int>(call);
    }
    EXPECT_EQ(std::find(setUp.begin(), setUp.end(), SerialCall::PurgeComm), setUp.end());
    EXPECT_EQ(input().State().BaudRate, 115200u);
    EXPECT_EQ(input().Mask(), EV_RXCHAR);
    EXPECT_EQ(input().Timeouts().ReadIntervalTimeout, MAXDWORD);

    ASSERT_TRUE(FeedAndDrain({'b'}));
    // Read is not yet written: the last output in list order has it last.
    ASSERT_TRUE(WaitUntil([this] { return port(SplitOutputs.back()).Writes().size() == 2; }));
    ExpectOutputsKept({{'a'}, {'b'}});
    StopAndCheck(run);
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(debug_.Count(kInputLost), 1u);
}

// A device that takes the input's name in the moment between the look at it
// and the open is found out once open, and closed again; the receiver is
// then taken back. (Real devices that have the input's name are left
// unopened: tests/relay/relay_end_to_end_test.cpp.)
TEST_F(ReconnectTest, ADeviceFoundToBeAnotherOnceOpenIsClosedAndTheReceiverTakenBack)
{
    input().AnswerIdentity({COMM_DEVICE_SAME});
    RelayRun run;
    StartAndLoseTheInput(run);
    const std::size_t opens = input().Count(SerialCall::Open);
    input().AnswerIdentity({COMM_DEVICE_SAME, COMM_DEVICE_OTHER_DEVICE, COMM_DEVICE_SAME});
    PlugBackIn();
    ASSERT_TRUE(WaitUntil([this] { return debug_.Count(kInputBack) == 1; }));
    EXPECT_EQ(input().Count(SerialCall::Open), opens + 2);
    EXPECT_EQ(debug_.Count(u"Input port not taken: another device has its name; waiting for the receiver\n"), 1u);
    EXPECT_EQ(TakeRelayHealth().input.notTakenBecause, "");
    ASSERT_TRUE(FeedAndDrain({'b'}));
    ExpectOutputsKept({{'a'}, {'b'}});
    StopAndCheck(run);
}

TEST_F(ReconnectTest, AStopWhileItWaitsForTheInputEndsTheWaitAtOnce)
{
    RelayRun run;
    StartAndLoseTheInput(run);
    // Right after a try the next one is a second away: the stop does not wait for it.
    ASSERT_TRUE(WaitForTries(1));
    StopAndCheck(run, std::chrono::milliseconds(500));
}

TEST_F(ReconnectTest, AnInputMissingAtTheStartIsWaitedForWithTheOutputsUp)
{
    MessageBoxRecorder boxes;
    input().Fail(SerialCall::Open, ERROR_FILE_NOT_FOUND);
    RelayRun run;
    ASSERT_TRUE(run.Start());
    EXPECT_TRUE(run.running());
    EXPECT_EQ(debug_.Count(kInputMissing), 1u);
    ASSERT_TRUE(WaitForTries(1));
    EXPECT_TRUE(boxes.Boxes().empty());
    ExpectOutputsKept({});
    // Nothing was asked of a port that is not open.
    EXPECT_EQ(debug_.Count(u"Error: Dispositivo no abierto\n"), 0u);

    input().Succeed(SerialCall::Open);
    ASSERT_TRUE(WaitUntil([this] { return debug_.Count(kInputBack) == 1; }));
    ASSERT_TRUE(FeedAndDrain({'$'}));
    ExpectOutputsKept({{'$'}});
    StopAndCheck(run);
}

TEST_F(ReconnectTest, AnInputThatOpensButCannotBeSetUpOrNamedStillFailsTheStart)
{
    for (const std::int32_t number : {std::int32_t{kInput}, std::int32_t{1234567}}) {
        SCOPED_TRACE(number);
        MessageBoxRecorder boxes;
        AppSettings.inputPort = number;
        input().Fail(SerialCall::SetCommState, 87);
        RelayRun run;
        ASSERT_TRUE(run.Start());
        EXPECT_FALSE(run.running());
        ASSERT_TRUE(run.WaitEnded());
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text, number == kInput ? u"Unable to setup input port" : u"Unable to open input port");
        for (PortNumber n : SplitOutputs) {
            EXPECT_FALSE(port(n).IsActive()) << "COM" << int(n);
        }
    }
    EXPECT_EQ(debug_.Count(kInputMissing), 0u);
}

TEST_F(ReconnectTest, TurningReconnectOffWhileItWaitsEndsTheRunAsAFailedReadDoes)
{
    MessageBoxRecorder boxes(MessageBoxRecorder::Mode::Hold);
    RelayRun run;
    StartAndLoseTheInput(run);
    ASSERT_TRUE(WaitForTries(1));
    AppSettings.reconnect.store(0);

    const auto box = boxes.WaitForBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, u"Error reading data from the input port");
    ExpectOutputsKept({{'a'}});   // until the message is answered
    boxes.Answer(IDOK);
    ASSERT_TRUE(run.WaitEnded());
    EXPECT_EQ(run.ExitCode(), 1u);
    EXPECT_FALSE(run.running());
    EXPECT_FALSE(run.StartedSignalled());
    for (PortNumber n : SplitOutputs) {
        EXPECT_FALSE(port(n).IsOpen()) << "COM" << int(n);
        EXPECT_FALSE(port(n).IsActive()) << "COM" << int(n);
    }
}

}  // namespace
