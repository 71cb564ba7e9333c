// What the worker counts as it relays, for TakeRelayHealth. Every field is an
// atomic that the worker writes with relaxed order and anyone reads: a count
// is an add, never a lock or a system call.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "state/extra_inputs.h"
#include "state/output_options.h"
#include "state/port_lists.h"

// The most outputs a run has: the virtual ports COM0 to COM9.
inline constexpr std::size_t kMostOutputs = 10;

// The most inputs a run has: the main one and eight more.
inline constexpr std::size_t kMostInputs = 9;

// What an input of the run is doing. Waiting: not there yet since the run
// started (a device not plugged in, a server not reached); Lost: it was
// there and went away, and is looked for again; StandingBy: it stands in for
// another input that is not silent.
enum class InputState : std::uint8_t { Relaying, Waiting, Lost, StandingBy };

// The counts of one input. The main input's bytes are bytesRead below.
struct InputCountersRecord {
    std::atomic<InputState> state{InputState::Waiting};
    std::atomic<std::int64_t> stateSince{0};   // steady clock
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::uint64_t> lines{0};
    std::atomic<std::uint64_t> torn{0};
    std::atomic<std::int64_t> lastByteAt{0};   // 0 while none has come
};

// What an output's shape dropped and what its program said to an input.
// The virtual outputs' come first, in list order, then the TCP server's
// (kTcpOutputCounts) and the UDP target's (kUdpOutputCounts).
struct OutputCountersRecord {
    std::atomic<bool> shaped{false};
    std::atomic<TalkMode> talk{TalkMode::Off};
    std::atomic<std::uint64_t> filtered{0};      // by only or deny
    std::atomic<std::uint64_t> badChecksum{0};
    std::atomic<std::uint64_t> decimated{0};
    std::atomic<std::uint64_t> talkedBytes{0};   // that reached the input
    std::atomic<std::uint64_t> talkedLines{0};
    std::atomic<std::uint64_t> talkDropped{0};   // bytes that did not
};
inline constexpr std::size_t kTcpOutputCounts = kMostOutputs;
inline constexpr std::size_t kUdpOutputCounts = kMostOutputs + 1;

// RelayCountersRecord::gpsdPort while no output is handed to gpsd.
inline constexpr std::int32_t kNoGpsdPort = -1;

struct RelayCountersRecord {
    std::atomic<bool> relaying{false};
    std::atomic<std::int32_t> inputPort{0};
    std::atomic<std::uint32_t> baudRate{0};
    std::atomic<std::uint64_t> bytesRead{0};
    std::atomic<std::uint64_t> readFailures{0};
    // When the last byte arrived, on the steady clock; 0 while none has.
    std::atomic<std::int64_t> lastByteAt{0};
    std::atomic<bool> waitingForReceiver{false};
    // Why the device that has the input's name is not taken (a COMM_DEVICE_
    // verdict); COMM_DEVICE_SAME while nothing is refused.
    std::atomic<std::uint32_t> inputRefusal{0};
    // The outputs of the run, in list order: the first outputCount entries.
    std::atomic<std::size_t> outputCount{0};
    std::array<std::atomic<PortNumber>, kMostOutputs> outputPorts{};
    std::array<std::atomic<std::uint64_t>, kMostOutputs> bytesRelayed{};
    // The output handed to gpsd, or kNoGpsdPort.
    std::atomic<std::int32_t> gpsdPort{kNoGpsdPort};
    // The inputs of the run, the main one first: the first inputCount entries.
    std::atomic<std::size_t> inputCount{0};
    std::array<InputCountersRecord, kMostInputs> inputs{};
    std::array<OutputCountersRecord, kMostOutputs + 2> outputs{};
};

extern RelayCountersRecord RelayCounters;

inline std::int64_t SteadyNow()
{
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

// Names the inputs of a run that starts, for the health readers, and counts
// each from zero: the main input, relaying, and `extras`, waiting.
void StartCountingInputs(const ExtraInputs& extras);

inline void SetInputState(InputCountersRecord& input, InputState state)
{
    if (input.state.exchange(state, std::memory_order_relaxed) != state) {
        input.stateSince.store(SteadyNow(), std::memory_order_relaxed);
    }
}

inline void CountAdd(std::atomic<std::uint64_t>& counter, std::uint64_t amount)
{
    counter.fetch_add(amount, std::memory_order_relaxed);
}
