#include "host_check/host_processes.h"

#include <algorithm>
#include <system_error>

#include "host_check/host_files.h"

namespace tavrel::host_check {
namespace {

namespace fs = std::filesystem;

bool IsPid(const std::string& name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool PidOrder(const HostProcess& left, const HostProcess& right)
{
    return left.pid.size() != right.pid.size() ? left.pid.size() < right.pid.size() : left.pid < right.pid;
}

enum class Descriptors { Hold, DoNotHold, Unseen };

// Whether one of the process's descriptors leads to `node`. The kernel shows
// each as a link whose text is the path that is open.
Descriptors DescriptorsOf(const fs::path& fdFolder, const fs::path& node)
{
    std::error_code error;
    fs::directory_iterator it(fdFolder, error);
    if (error) {
        return error == std::errc::permission_denied ? Descriptors::Unseen : Descriptors::DoNotHold;
    }
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        std::error_code unreadable;
        if (fs::read_symlink(it->path(), unreadable) == node && !unreadable) {
            return Descriptors::Hold;
        }
    }
    return Descriptors::DoNotHold;
}

}  // namespace

std::vector<HostProcess> ListProcesses(const fs::path& proc)
{
    std::vector<HostProcess> processes;
    for (const fs::path& entry : FolderEntries(proc)) {
        const std::string pid = entry.filename().string();
        if (IsPid(pid)) {
            processes.push_back({pid, FirstLine(entry / "comm")});
        }
    }
    std::sort(processes.begin(), processes.end(), PidOrder);
    return processes;
}

std::optional<HostProcess> FindProcess(const std::vector<HostProcess>& processes, std::string_view name)
{
    const auto found = std::find_if(processes.begin(), processes.end(),
                                    [name](const HostProcess& process) { return process.name == name; });
    return found == processes.end() ? std::nullopt : std::optional<HostProcess>(*found);
}

DeviceHolders ProcessesHolding(const std::vector<HostProcess>& processes, const fs::path& proc, const fs::path& node)
{
    DeviceHolders found;
    for (const HostProcess& process : processes) {
        switch (DescriptorsOf(proc / process.pid / "fd", node)) {
        case Descriptors::Hold: found.holders.push_back(process); break;
        case Descriptors::Unseen: found.someUnseen = true; break;
        case Descriptors::DoNotHold: break;
        }
    }
    return found;
}

}  // namespace tavrel::host_check
