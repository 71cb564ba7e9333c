// The phases of a measured run, each on a relay that is up (but for the
// launch) with its outputs open. Every phase reads every output it watches
// and accounts for every byte it sent.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include "bench/figures.h"
#include "bench/input_line.h"
#include "bench/output_readers.h"
#include "bench/relay.h"
#include "bench/stream_check.h"
#include "bench/test_streams.h"

namespace tavrel::bench {

// Launches the relay while the input sends `trickle` every millisecond (a
// byte; a whole sentence for outputs that pass only lines), opens each output
// as soon as its link leads to a port, and waits until every output has read
// a byte. Throws when that does not happen within `timeout`.
LaunchFigures MeasureLaunch(Relay& relay, const InputLine& input, OutputReaders& readers,
                            std::chrono::seconds timeout, std::string_view trickle = "L");

// Context switches of every thread of the relay while nothing is sent.
std::vector<ThreadWakeups> MeasureIdle(const Relay& relay, std::chrono::milliseconds interval);

// `samples` numbered bytes, each sent at a random moment and timed until
// every output has it.
LatencyFigures MeasureLatency(const InputLine& input, OutputReaders& readers, std::size_t samples,
                              std::mt19937& random);

// `bytes` of PositionPattern in 100-byte writes, as fast as the input takes
// them but for at most `limit`, while every output is read and checked.
ThroughputFigures MeasureThroughput(const Relay& relay, const InputLine& input, OutputReaders& readers,
                                    std::size_t bytes, std::chrono::seconds limit);

// Shared by the phases that stream: the writer's progress, as the reader sees it.
struct WriterProgress {
    std::atomic<std::size_t> accepted{0};
    std::atomic<bool> done{false};
};

// Sends each sentence of `stream` when the line, at `bytesPerSecond` from
// `start`, would have it; once the input has refused part of one until
// `end`, nothing more is sent. Returns the bytes of the sentences due before
// `end`. With `sentAt`, the moment each sentence's write began is appended.
std::size_t SendPaced(const InputLine& input, const NmeaStream& stream, double bytesPerSecond,
                      Clock::time_point start, Clock::time_point end, WriterProgress& progress,
                      std::vector<Clock::time_point>* sentAt = nullptr);

// Reads every output, handing what it reads to `take`, until `complete()`
// holds once the writer is done, or, once it is done, nothing came for two seconds.
void ReadWhileWriting(OutputReaders& readers, const WriterProgress& writer, const OutputReaders::Handler& take,
                      const std::function<bool()>& complete);

// Reads every output until each checked one (an output without a check is
// not counted) has every accepted byte, or, once the writer is done, nothing
// came for two seconds. Returns when the last checked byte arrived (`start`
// if none did). `checked`, when given, is told of each checked output's read
// once its check has taken it.
using CheckedRead = std::function<void(std::size_t output, const StreamCheck& check, Clock::time_point seen)>;
Clock::time_point ReadUntilDelivered(OutputReaders& readers, std::vector<std::optional<StreamCheck>>& checks,
                                     const WriterProgress& writer, Clock::time_point start,
                                     const CheckedRead& checked = {});

// Over the outputs that have a check.
Delivery Tally(const std::vector<std::optional<StreamCheck>>& checks, std::size_t accepted);

}  // namespace tavrel::bench
