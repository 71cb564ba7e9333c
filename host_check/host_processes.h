// The host's processes as /proc shows them: their names, and which of them
// have a device open.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::host_check {

struct HostProcess {
    std::string pid;
    std::string name;   // its comm: "gpsd", "ModemManager"
};

// Every process under `proc` (its folders named by a number), in pid order.
std::vector<HostProcess> ListProcesses(const std::filesystem::path& proc);

// The first process called `name`, if one runs.
std::optional<HostProcess> FindProcess(const std::vector<HostProcess>& processes, std::string_view name);

struct DeviceHolders {
    std::vector<HostProcess> holders;   // the processes with a descriptor open on the node
    bool someUnseen = false;            // some processes' descriptors could not be looked at
};

// The processes whose open descriptors (proc/<pid>/fd/<n>, links to what is
// open) lead to `node`. A process whose descriptors may not be read (another
// user's) counts as unseen; one that ended meanwhile does not count at all.
DeviceHolders ProcessesHolding(const std::vector<HostProcess>& processes, const std::filesystem::path& proc,
                               const std::filesystem::path& node);

}  // namespace tavrel::host_check
