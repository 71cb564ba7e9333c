// What the programs on the outputs say to the inputs, served on the relay
// worker's thread. A virtual port set to talk is opened with an input queue,
// so its driver keeps what its program writes; the worker wakes on the
// port's receive event, reads it and hands it to the arbiter of the input it
// talks to. The TCP server's clients that may talk reach the same arbiters
// through an inbox that the server's thread fills. What an arbiter lets go
// is written to its input without waiting, at most at the input's line rate.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "platform/types.h"
#include "relay/owned_handles.h"
#include "relay/relay_counters.h"
#include "relay/talk_arbiter.h"
#include "serial/serial_port.h"
#include "state/output_options.h"

// The bytes a virtual port's driver keeps for the worker: a few reads' worth.
inline constexpr DWORD kTalkQueueBytes = 4096;

// One virtual output whose program talks.
struct TalkingPort {
    std::size_t output = 0;   // its index in the run's list: its talker number and its counts
    CSerial* port = nullptr;
    OwnedHandle received;
    TalkMode mode = TalkMode::Off;
    std::size_t to = 0;       // the input it talks to
};

// What a TCP client said, or that it left (no bytes).
struct TalkedBytes {
    std::uint64_t client = 0;
    std::vector<unsigned char> bytes;
};

struct TalkBack {
    std::vector<std::unique_ptr<TalkingPort>> ports;
    TalkMode tcpMode = TalkMode::Off;
    std::size_t tcpTo = 0;
    std::set<std::uint64_t> tcpTalkers;   // the talking clients connected now
    std::array<std::unique_ptr<TalkArbiter>, kMostInputs> arbiters;
    std::vector<unsigned char> buffer = std::vector<unsigned char>(kTalkQueueBytes);
    std::vector<unsigned char> out;
    std::vector<TalkedBytes> fromClients;
};

// The inputs as talk reaches them: whether input n can take bytes now (not
// lost, and able to be written to), and the write, which must not wait.
struct TalkInputs {
    std::function<bool(std::size_t input)> ready;
    std::function<void(std::size_t input, std::span<const unsigned char> bytes)> send;
};

// Starts the talk of a run: each virtual output (its index, its port, its
// options) and the TCP server's options; `lineRate` gives each input's bytes
// per second. A port whose receive event cannot be made costs a debug line
// and does not talk.
void StartTalkBack(TalkBack& talk, const std::vector<std::pair<CSerial*, OutputOptions>>& outputs,
                   const OutputOptions& tcp, const std::function<std::uint32_t(std::size_t input)>& lineRate);
void StopTalkBack(TalkBack& talk);

// Whether anything talks in this run.
bool Talking(const TalkBack& talk);

// Appends the handles the worker waits on for talk to objects[count...],
// at most `room` of them.
void AddTalkWaits(const TalkBack& talk, HANDLE* objects, DWORD& count, DWORD room);

// Reads what the talking ports and clients said, feeds the arbiters and
// sends what they let go; publishes the counts.
void ServeTalk(TalkBack& talk, std::uint64_t nowMs, const TalkInputs& inputs);

// When ServeTalk must run again though nothing was said (a line's time-out,
// the rate), for the inputs that can take bytes now; nothing when not needed.
std::optional<std::uint64_t> NextTalkDeadline(const TalkBack& talk, const TalkInputs& inputs);

// The TCP server's clients talk through this, from the server's thread.
void TalkFromTcpClient(std::uint64_t client, std::span<const unsigned char> bytes);
