// The extra inputs of a run, each read on a thread of its own: a serial
// device (by its COM number, or by a host path opened anew at every try, so
// that a /dev/serial/by-id link follows its receiver), a TCP source, a UDP
// port. What they read waits in an inbox until the worker takes it, and an
// event tells the worker that something waits. An input that is missing or
// lost is looked for again by its own thread: it never ends the run and
// never shows a message; its state is in RelayCounters.inputs.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "platform/types.h"
#include "state/extra_inputs.h"

// What one input read, or that it was lost (`lost`, no bytes): its partial
// line is then complete as it is.
struct InputArrival {
    std::size_t input = 0;   // 1 onwards
    std::vector<unsigned char> bytes;
    bool lost = false;
};

class InputSources {
public:
    // Starts reading `inputs`, input i + 1 from inputs[i]. An input whose
    // reader cannot start (a UDP port another program holds) stays Waiting,
    // with a debug line saying why.
    explicit InputSources(const ExtraInputs& inputs);
    // Stops every reader; returns once they have all ended.
    ~InputSources();
    InputSources(const InputSources&) = delete;
    InputSources& operator=(const InputSources&) = delete;

    // Signalled (auto-reset) whenever something arrived since the last take.
    HANDLE arrived() const;
    // Moves everything that arrived into `into`, each input's in its order.
    void TakeArrivals(std::vector<InputArrival>& into);

    // Whether input `input` (1 onwards) can be written to now: a serial
    // input that is open, or a TCP source that is connected. UDP inputs are
    // only read.
    bool MayTalkTo(std::size_t input) const;
    // Hands `bytes` to the input's reader, which writes them without
    // holding up its reads; dropped when it cannot take them.
    void TalkTo(std::size_t input, std::span<const unsigned char> bytes);

    struct Inbox;
    struct Reader;

private:
    std::shared_ptr<Inbox> inbox_;
    std::vector<std::unique_ptr<Reader>> readers_;
};
