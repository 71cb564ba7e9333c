#include "port_group.h"

#include <algorithm>
#include <grp.h>
#include <mutex>
#include <set>
#include <unistd.h>
#include <vector>

#include "driver_host.h"
#include "pseudo_terminal.h"

namespace quorvel {
namespace {

std::optional<gid_t> GroupNamed(const std::string& name)
{
    std::vector<char> buffer(4096);
    group entry{};
    group* found = nullptr;
    while (::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    return found != nullptr ? std::optional<gid_t>(found->gr_gid) : std::nullopt;
}

bool ProcessIsMemberOf(gid_t group)
{
    if (::getegid() == group) {
        return true;
    }
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    const int listed = ::getgroups(count, groups.data());
    return listed > 0 && std::find(groups.begin(), groups.begin() + listed, group) != groups.begin() + listed;
}

// A reason told once is not told again for every port of the same process.
bool FirstTimeSaid(const std::string& line)
{
    static std::mutex mutex;
    static std::set<std::string> said;
    std::lock_guard lock(mutex);
    return said.insert(line).second;
}

}  // namespace

PortGroupChoice ChoosePortGroup(const std::string& name)
{
    if (name.empty()) {
        return {};
    }
    const std::optional<gid_t> group = GroupNamed(name);
    if (!group) {
        return {std::nullopt, "the group " + name + " does not exist; the port keeps its modes"};
    }
    if (::geteuid() != 0 && !ProcessIsMemberOf(*group)) {
        return {std::nullopt, "this user is not in the group " + name + "; the port keeps its modes"};
    }
    return {group, {}};
}

void SharePortWithGroup(const DriverHost& host, const PseudoTerminal& pty)
{
    const PortGroupChoice choice = ChoosePortGroup(host.portGroup());
    if (!choice.group) {
        if (!choice.whyNot.empty() && FirstTimeSaid(choice.whyNot)) {
            host.Debug(choice.whyNot);
        }
        return;
    }
    if (const int error = pty.ShareWithGroup(*choice.group); error != 0) {
        host.Debug("cannot give the port to the group " + host.portGroup(), error);
    }
}

}  // namespace quorvel
