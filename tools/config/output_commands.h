// tavrel-config's port commands: what an output's program may say to an
// input, and how the output's stream is shaped for that program. The output
// is a virtual port (COM0 to COM9), the TCP server (tcp) or the UDP target (udp).
#pragma once

#include <string>
#include <vector>

namespace tavrel::tools {

// Runs `port NAME [COMMAND...]` (the words after "port"); the exit status, or
// -1 when the words are no port command at all. A change is stored and told
// to a running Tavrel through `tell`, which returns whether one took it.
int RunPortCommand(const std::vector<std::string>& words, bool (*tell)(const std::u16string& registryName));

}  // namespace tavrel::tools
