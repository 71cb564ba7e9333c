#include "bench/merge_run.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <stdexcept>
#include <thread>

#include "bench/phases.h"
#include "testkit/proc_stats.h"

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

// The warm-up sends a sentence on every input this often, for at most kReadyLimit.
constexpr auto kWarmUpInterval = 100ms;
constexpr auto kReadyLimit = 60s;
// After the run, the readers are read at most this long for what is still on its way.
constexpr auto kLateLimit = 30s;

using Shown = std::array<bool, kMergeSources>;

struct SendProgress {
    WriterProgress writer;                                    // the bytes of all three, and when all are done
    std::array<std::atomic<std::size_t>, kMergeSources> sentences{};
    std::array<std::vector<Clock::time_point>, kMergeSources> writtenAt;

    std::array<std::size_t, kMergeSources> Sent() const
    {
        return {sentences[0].load(), sentences[1].load(), sentences[2].load()};
    }
};

void SendWarmUp(const std::array<Feed*, kMergeSources>& feeds, std::size_t k)
{
    for (const MergeSource source : kAllMergeSources) {
        Feed& feed = *feeds[static_cast<std::size_t>(source)];
        const std::string sentence = WarmUpSentence(source, k);
        if (feed.Connected()) {
            feed.Write(std::span(reinterpret_cast<const unsigned char*>(sentence.data()), sentence.size()),
                       Clock::now() + kWarmUpInterval);
        }
    }
}

std::string NeverOpened(const OutputReaders& readers)
{
    std::string outputs;
    for (std::size_t output = 0; output < readers.size(); ++output) {
        if (!readers.IsOpen(output)) {
            outputs.append(" ").append(std::to_string(output));
        }
    }
    return outputs.empty() ? "" : "output(s)" + outputs + " never opened";
}

// The inputs that some reader never had a line of, and whether the relay answered.
std::string Missing(const std::vector<Shown>& shown, bool answered)
{
    std::string missing = answered ? "" : "the relay did not answer";
    for (const MergeSource source : kAllMergeSources) {
        const auto without = std::count_if(shown.begin(), shown.end(), [&](const Shown& reader) {
            return !reader[static_cast<std::size_t>(source)];
        });
        if (without > 0) {
            missing.append(missing.empty() ? "" : "; ")
                .append(std::string(NameOf(source)) + " never reached " + std::to_string(without) + " of " +
                        std::to_string(shown.size()) + " readers");
        }
    }
    return missing;
}

bool AllShown(const std::vector<Shown>& shown)
{
    return std::all_of(shown.begin(), shown.end(),
                       [](const Shown& reader) { return std::all_of(reader.begin(), reader.end(), std::identity()); });
}

// Opens the outputs that can be opened and reads every open one until
// `until`, keeping which inputs each has had a line of since it opened.
void WatchOutputs(OutputReaders& readers, std::vector<Shown>& shown, std::vector<LineSplitter>& lines,
                  Clock::time_point until)
{
    while (Clock::now() < until) {
        for (const std::size_t output : readers.OpenMissing()) {
            shown[output] = {};
            lines[output].Clear();
        }
        readers.Read(10ms, [&](std::size_t output, std::span<const unsigned char> bytes, Clock::time_point) {
            lines[output].Feed(bytes, [&](std::string_view line) {
                if (const auto source = TalkerSource(line)) {
                    shown[output][static_cast<std::size_t>(*source)] = true;
                }
            });
        });
    }
}

// Launches the relay and warms it up: a sentence on every input every
// kWarmUpInterval until every output is open, has read a line of every input
// since, and the relay answers; returns the seconds from the launch. Gives
// up after kReadyLimit, saying why in `notReady`; throws when an output never opened.
double WarmUp(MergeSubject& subject, OutputReaders& readers, std::string& notReady)
{
    const Clock::time_point launch = Clock::now();
    subject.relay.Launch();
    std::vector<Shown> shown(readers.size(), Shown{});
    std::vector<LineSplitter> lines(readers.size());
    bool answered = false;
    for (std::size_t k = 0; k < kWarmUpSentences && Clock::now() < launch + kReadyLimit; ++k) {
        SendWarmUp(subject.feeds, k);
        WatchOutputs(readers, shown, lines, launch + kWarmUpInterval * (k + 1));
        answered = answered || !subject.answers || subject.answers();
        if (AllShown(shown) && answered) {
            return Seconds(Clock::now() - launch);
        }
    }
    if (const std::string unopened = NeverOpened(readers); !unopened.empty()) {
        throw std::runtime_error(unopened + " within " + std::to_string(kReadyLimit.count()) + " s of the launch");
    }
    notReady = Missing(shown, answered);
    return Seconds(Clock::now() - launch);
}

// Writes each sentence of `stream` whole at its due time; stops at the first
// that the input does not take whole by `end`.
void SendSource(Feed& feed, const SourceStream& stream, Clock::time_point start, Clock::time_point end,
                SendProgress& progress)
{
    const auto s = static_cast<std::size_t>(stream.source);
    progress.writtenAt[s].reserve(stream.sentences.size());
    for (std::size_t i = 0; i < stream.sentences.size(); ++i) {
        std::this_thread::sleep_until(start + stream.due[i]);
        const std::string& sentence = stream.sentences[i];
        const std::size_t written =
            feed.Write(std::span(reinterpret_cast<const unsigned char*>(sentence.data()), sentence.size()), end);
        progress.writtenAt[s].push_back(Clock::now());
        progress.writer.accepted += written;
        if (written < sentence.size()) {
            return;
        }
        ++progress.sentences[s];
    }
}

std::uint64_t PeakResidentKilobytes(const std::vector<pid_t>& processes)
{
    std::uint64_t kilobytes = 0;
    for (const pid_t process : processes) {
        const std::string status = testing::ReadProcText("/proc/" + std::to_string(process) + "/status");
        kilobytes += testing::StatusNumber(status, "VmHWM").value_or(0);
    }
    return kilobytes;
}

// Paces the three streams from `start` while every reader is read, until every
// reader has every sentence sent, or nothing came for a while after the last.
void SendAndRead(MergeSubject& subject, const MergePlan& plan, OutputReaders& readers, MergeTally& tally,
                 SendProgress& progress)
{
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + plan.length + 1s;
    std::jthread writers([&] {
        {
            std::vector<std::jthread> each;
            for (const MergeSource source : kAllMergeSources) {
                const auto s = static_cast<std::size_t>(source);
                each.emplace_back([&, s] { SendSource(*subject.feeds[s], plan.streams[s], start, end, progress); });
            }
        }
        progress.writer.done = true;
    });
    ReadWhileWriting(
        readers, progress.writer,
        [&](std::size_t output, std::span<const unsigned char> bytes, Clock::time_point seen) {
            tally.Read(output, bytes, seen);
        },
        [&] { return tally.Complete(progress.Sent()) || Clock::now() > end + kLateLimit; });
}

}  // namespace

MergePlan MergePlanFor(std::chrono::seconds length)
{
    return {length,
            {StreamOf(MergeSource::Gps, length), StreamOf(MergeSource::Ais, length),
             StreamOf(MergeSource::Wind, length)}};
}

MergeFigures MeasureMerge(MergeSubject& subject, const MergePlan& plan)
{
    OutputReaders readers(subject.outputs);
    MergeFigures figures;
    figures.readySeconds = WarmUp(subject, readers, figures.notReady);
    readers.Drain(500ms);
    const std::vector<pid_t> processes = subject.relay.processes();
    MergeTally tally(plan.streams, readers.size());
    SendProgress progress;
    const double cpuBefore = testing::CpuSeconds(processes);
    SendAndRead(subject, plan, readers, tally, progress);
    figures.cpuSeconds = testing::CpuSeconds(processes) - cpuBefore;
    figures.peakResidentKilobytes = PeakResidentKilobytes(processes);
    figures.ownCounts = subject.ownCounts ? subject.ownCounts() : "";
    subject.relay.Terminate();

    figures.sent = progress.Sent();
    figures.inputBytes = progress.writer.accepted;
    figures.lines = tally.Tally(figures.sent);
    for (const MergeSource source : kAllMergeSources) {
        const auto s = static_cast<std::size_t>(source);
        figures.millis[s] = tally.Millis(source, progress.writtenAt[s], 0, readers.size());
        figures.tcpMillis[s] = tally.Millis(source, progress.writtenAt[s], subject.ports, readers.size());
    }
    return figures;
}

}  // namespace tavrel::bench
