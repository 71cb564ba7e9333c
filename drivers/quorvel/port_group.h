// Which host group a port's pseudo-terminal is given, so that a service of
// that group may open it (Debian's gpsd runs as user gpsd in group dialout,
// the group that may open serial devices).
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace quorvel {

class DriverHost;
class PseudoTerminal;

struct PortGroupChoice {
    std::optional<gid_t> group;   // nothing: leave the modes as they are
    std::string whyNot;           // why not, when the host named a group
};

// The process may give its files to a group it is a member of (its own group
// or a supplementary one), and root to any group.
PortGroupChoice ChoosePortGroup(const std::string& name);

// Gives the port's pseudo-terminal to the host's group where the process may;
// otherwise says why in one debug line, once per process and reason.
void SharePortWithGroup(const DriverHost& host, const PseudoTerminal& pty);

}  // namespace quorvel
