// Hands a run's virtual ports to gpsd when they appear and takes them back
// before they go, over gpsd's control socket, so that gpsd reads a port as
// soon as it exists, again after Tavrel was restarted. A gpsd that is
// missing, refuses or never answers costs one debug line and a bounded wait;
// the ports and the relay go on either way.
#pragma once

#include <string>
#include <vector>

namespace handoff {

// Asks gpsd to take each port ("+path"). A port that gpsd still lists (its
// earlier port ended without being taken back) is let go of and taken again,
// so that gpsd opens the port that exists now. Waits 2 s at most in all.
void HandPortsToGpsd(const std::string& socketPath, const std::vector<std::string>& portPaths);

// Asks gpsd to let go of each port ("-path"). Waits 1 s at most in all.
void TakePortsFromGpsd(const std::string& socketPath, const std::vector<std::string>& portPaths);

}  // namespace handoff
