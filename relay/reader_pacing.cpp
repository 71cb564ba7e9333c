#include "relay/reader_pacing.h"

#include "platform/kernel.h"
#include "serial/serial_port.h"

namespace {

// A backlog beyond this holds the relay. A virtual port drops the oldest of
// what waits beyond 64 KiB, and the relay adds up to one chunk before it looks
// again: the margin keeps that chunk from pushing bytes out.
constexpr DWORD kFarBehind = 32 * 1024;
// The relay goes on once every backlog it waits for is down to this.
constexpr DWORD kCaughtUp = 8 * 1024;
// A reader that keeps up takes a far-behind backlog in a few milliseconds;
// one that has not within this is busy elsewhere or stalled. Short enough for
// the input's own buffers (a tty keeps tens of KiB) to hold what arrives
// meanwhile even at 921600 baud; long enough for a reader that the host did
// not schedule for a while.
constexpr DWORD kLongestWaitMilliseconds = 250;
constexpr DWORD kLookEveryMilliseconds = 1;

DWORD BacklogOf(const PacedOutput& output)
{
    DWORD waiting = 0;
    return output.port->GetOutQueue(&waiting) == 0 ? waiting : 0;
}

// Whether an output that is waited for holds more than `mark` bytes. One that
// has taken everything is waited for again from now on.
bool SomeReaderBehind(std::vector<PacedOutput>& outputs, DWORD mark)
{
    bool behind = false;
    for (PacedOutput& output : outputs) {
        const DWORD waiting = BacklogOf(output);
        if (waiting == 0) {
            output.givenUp = false;
        } else if (!output.givenUp && waiting > mark) {
            behind = true;
        }
    }
    return behind;
}

void GiveUpOnReadersBehind(std::vector<PacedOutput>& outputs, DWORD mark)
{
    for (PacedOutput& output : outputs) {
        if (!output.givenUp && BacklogOf(output) > mark) {
            output.givenUp = true;
        }
    }
}

}  // namespace

DWORD WaitForLaggingReaders(std::vector<PacedOutput>& outputs, HANDLE stopEvent)
{
    if (!SomeReaderBehind(outputs, kFarBehind)) {
        return WAIT_TIMEOUT;
    }
    const DWORD start = GetTickCount();
    do {
        if (GetTickCount() - start >= kLongestWaitMilliseconds) {
            GiveUpOnReadersBehind(outputs, kCaughtUp);
            return WAIT_TIMEOUT;
        }
        if (const DWORD waited = WaitForSingleObject(stopEvent, kLookEveryMilliseconds); waited != WAIT_TIMEOUT) {
            return waited;
        }
    } while (SomeReaderBehind(outputs, kCaughtUp));
    return WAIT_TIMEOUT;
}
