// One conversation with gpsd over its control socket. A command is one line:
// "+<path>" asks gpsd to take the device at path, "-<path>" to let it go; gpsd
// answers each with "OK" or "ERROR". Every command waits a bounded time at
// most, so a gpsd that is missing, refuses or never answers costs no more;
// and a conversation can be cut short at once from another thread.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/host/unique_fd.h"

namespace tavrel::gpsd {

enum class GpsdReply { Ok, Error };

class GpsdControl {
public:
    using Clock = std::chrono::steady_clock;

    // Connects to the control socket; failure() says why when it could not.
    // `timeLimit` bounds the connection and each command (gpsd that opens
    // what it is handed at once answers "+" only after it has opened it). A
    // descriptor `cut` that turns readable cuts the conversation short.
    GpsdControl(const std::string& socketPath, Clock::duration timeLimit, int cut = -1);

    bool connected() const { return socket_.valid(); }
    // What went wrong last, for a debug line: "cannot reach …: reason",
    // "no answer from …", …
    const std::string& failure() const { return failure_; }

    // Sends "+path" or "-path" and waits for gpsd's answer; nothing when the
    // conversation failed (then failure() says why and the connection is
    // closed: later commands fail at once).
    std::optional<GpsdReply> Add(const std::string& path) { return Command('+', path); }
    std::optional<GpsdReply> Remove(const std::string& path) { return Command('-', path); }

private:
    std::optional<GpsdReply> Command(char verb, const std::string& path);
    bool SendLine(const std::string& line);
    std::optional<std::string> ReceiveLine();
    // Waits for `events` on the socket until the deadline; false (the
    // conversation failed) when it passed or the conversation was cut short.
    bool WaitFor(short events, const char* what);
    void Fail(std::string why);

    std::string socketPath_;
    Clock::duration timeLimit_;
    Clock::time_point deadline_;
    int cut_;
    platform::host::UniqueFd socket_;
    std::string received_;   // what came after the last answer's line end
    std::string failure_;
};

}  // namespace tavrel::gpsd
