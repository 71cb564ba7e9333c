// Hands a run's virtual ports to gpsd when they appear and takes them back
// before they go, over gpsd's control socket, so that gpsd reads a port as
// soon as it exists, again after Tavrel was restarted. A gpsd that is
// missing, refuses or never answers costs one debug line and a bounded wait;
// the ports and the relay go on either way.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "platform/host/wake_signal.h"

namespace tavrel::gpsd {

// Asks gpsd to take each port ("+path"). A port that gpsd still lists (its
// earlier port ended without being taken back) is let go of and taken again,
// so that gpsd opens the port that exists now. Each command waits 10 s
// at most; the first that fails ends the hand-over. A descriptor `cut` that
// turns readable ends it at once.
void HandPortsToGpsd(const std::string& socketPath, const std::vector<std::string>& portPaths, int cut = -1);

// Asks gpsd to let go of each port ("-path"); each command waits 1 s at most.
void TakePortsFromGpsd(const std::string& socketPath, const std::vector<std::string>& portPaths);

// The ports of one run in gpsd's hands. They are handed over on a thread of
// its own, so that the relay never waits for gpsd, and taken back when the
// object ends. gpsd may open a device that it was handed anew (after Tavrel
// was restarted) only a few seconds later, and only when something wakes it;
// the thread wakes it then, so that it does not wait for its next client.
class GpsdHandOff {
public:
    // Throws std::system_error when the thread cannot be had.
    GpsdHandOff(std::string socketPath, std::vector<std::string> portPaths);
    // Cuts a hand-over in progress short, and takes the ports back.
    ~GpsdHandOff();
    GpsdHandOff(const GpsdHandOff&) = delete;
    GpsdHandOff& operator=(const GpsdHandOff&) = delete;

private:
    void HandOver() const;
    // Waits until `moment` or the end; false at the end.
    bool SleepUntil(std::chrono::system_clock::time_point moment) const;

    const std::string socketPath_;
    const std::vector<std::string> portPaths_;
    const platform::host::WakeSignal end_;   // woken once the object ends
    std::thread thread_;             // last: it uses everything above
};

}  // namespace tavrel::gpsd
