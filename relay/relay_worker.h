// The relay worker: one run of relaying is one life of this thread. It brings
// up a virtual output port for each entry of SplitOutputs, opens the input,
// and copies every chunk read from the input to every output until the stop
// event is signalled or a failure ends the run. With Reconnect on, a failed
// read of the input does not end the run: the outputs stay, and the input is
// opened again once it is back.
#pragma once

#include "platform/types.h"
#include "state/baud_rates.h"

// The most one read of the input takes: what a burst has delivered goes out
// in chunks of up to this size, a lone byte at once.
inline constexpr DWORD kRelayReadSize = 4096;

// The thread entry; its parameter is not used. Exit code 0 after a normal
// stop, 1 after a failure: of its start-up, of a read, or of a wait (a wait
// that fails is never taken for the stop).
DWORD ThreadGPSProxy(LPVOID parameter);

// The rate of a baud index; any index outside 0 to 14 gives 4800.
DWORD BaudRateOf(BaudIndex index);
