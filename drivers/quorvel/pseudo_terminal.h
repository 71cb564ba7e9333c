// One pseudo-terminal pair seen from its master side: the driver writes the
// stream into the master; a consumer program reads it from the slave, and
// what the consumer writes there the driver reads from the master. The
// master is non-blocking and the slave is kept raw (8-bit transparent, no
// echo). Everything that knows about Linux ptys and termios is here.
//
// The master is in packet mode and the slave's settings carry EXTPROC, so
// that any change a consumer makes to them shows on the master (POLLPRI, and
// a status byte to read): one poll() tells both whether anybody has the slave
// open and whether its settings must be looked at.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <sys/types.h>
#include <termios.h>

#include "platform/host/unique_fd.h"

namespace quorvel {

class PseudoTerminal {
public:
    // Creates the pair with the slave in raw mode; throws std::system_error.
    PseudoTerminal();

    int master() const { return master_.get(); }
    const std::string& slavePath() const { return slavePath_; }

    struct LineState {
        bool consumerPresent = false;   // some program has the slave open
        bool settingsChanged = false;   // its settings changed since the master was last read
    };
    // One look at the master, without waiting.
    LineState Look() const;
    // True while no program has the slave open.
    bool NobodyHasSlaveOpen() const { return !Look().consumerPresent; }

    // Puts the slave back in raw mode when a consumer changed it (stty sane and
    // the like stick for the next consumer), leaving how its reads wait (VMIN,
    // VTIME) to that consumer. Returns 0 or errno.
    int KeepRaw() const;
    // Gives the slave the settings of a port nobody has used: raw, 8N1, VMIN
    // 1, VTIME 0 (and EXTPROC). Returns 0 or errno.
    int ResetToFresh() const;
    // Lets the members of `group` open the slave for reading and writing
    // (group `group`, mode 0660), as a serial device of group dialout does.
    // Returns 0 or errno.
    int ShareWithGroup(gid_t group) const;

    struct WriteResult {
        std::size_t written = 0;   // bytes the pty took, from the front
        int error = 0;             // 0, or errno of a failure other than "full"
    };
    // Writes what fits without blocking.
    WriteResult WriteSome(std::span<const unsigned char> bytes) const;

    struct Flushed {
        std::size_t bytes = 0;   // how many were dropped
        int error = 0;           // 0, or errno
    };
    // Drops everything that waits for the consumer, both in the slave's line
    // buffer and on its way there.
    Flushed DiscardPending() const;

    // The most that one read of consumer input takes.
    static constexpr std::size_t kLargestRead = 4096;

    struct Received {
        std::size_t bytes = 0;          // consumer input copied out
        bool settingsChanged = false;   // a consumer changed the line's settings
        bool drained = false;           // nothing more waits (or nobody has the slave open)
    };
    // One read of what consumers wrote to their end, without waiting: at most
    // into.size() bytes (at least 1), and kLargestRead. Reading takes the news
    // of a change of settings off the master.
    Received ReadConsumerInput(std::span<unsigned char> into) const;

    // What a pass over consumer input found.
    struct Intake {
        bool mayRemain = false;         // the bound was reached: call again
        bool settingsChanged = false;   // a consumer changed the line's settings
    };
    // Reads and discards what consumers wrote to their end, a bounded amount
    // per call so that a consumer that never stops cannot hold the caller.
    Intake DiscardConsumerInput() const;

private:
    platform::host::UniqueFd OpenSlave() const;

    platform::host::UniqueFd master_;
    std::string slavePath_;
    termios fresh_{};
};

}  // namespace quorvel
