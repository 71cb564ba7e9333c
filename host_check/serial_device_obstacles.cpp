// What stands between a serial device and Tavrel, each with its fix.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <optional>
#include <set>
#include <string_view>

#include "host_check/host_files.h"
#include "host_check/host_processes.h"
#include "host_check/serial_device_check.h"

namespace tavrel::host_check {
namespace {

namespace fs = std::filesystem;

// The running Tavrel reads its own input: it is not in the way.
constexpr std::string_view kTavrel = "tavrel";
constexpr std::string_view kModemManager = "ModemManager";
constexpr std::string_view kBrltty = "brltty";
constexpr std::string_view kGpsd = "gpsd";
const char* const kIgnoreProperty = "E:ID_MM_DEVICE_IGNORE=1";
const char* const kReceiverRules = "/etc/udev/rules.d/99-tavrel-receiver.rules";
const char* const kReloadUdev = "sudo udevadm control --reload";
// Where distributions install brltty and the udev rules that start it.
const char* const kProgramFolders[] = {"usr/bin", "usr/sbin", "bin", "sbin"};
// A rules file in etc/ takes the place of the packaged one of the same name.
const char* const kLocalRules = "etc/udev/rules.d";
const char* const kRulesFolders[] = {"lib/udev/rules.d", "usr/lib/udev/rules.d", kLocalRules};

std::string Joined(const std::vector<std::string>& items, const std::string& between)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "" : between) + items[i];
    }
    return text;
}

std::string Named(const HostProcess& process)
{
    return process.name + " (pid " + process.pid + ")";
}

std::vector<std::string> PluggedIn(const HostRoots& roots)
{
    std::vector<std::string> links;
    for (const fs::path& link : FolderEntries(roots.dev / "serial" / "by-id")) {
        if (Resolved(link)) {
            links.push_back(link.string());
        }
    }
    return links;
}

Obstacle Missing(const std::string& path, const HostRoots& roots)
{
    Obstacle missing{path.empty() ? "no device is named" : path + " does not exist", {}};
    const std::vector<std::string> plugged = PluggedIn(roots);
    if (plugged.empty()) {
        missing.fix = "no USB serial device is plugged in now (nothing in /dev/serial/by-id): plug the receiver in, "
                      "check its cable, and look at `sudo dmesg` for what the kernel said of it";
    } else {
        missing.fix = "plugged into another port? These USB serial devices are plugged in now:\n  " +
                      Joined(plugged, "\n  ") +
                      "\nname the receiver by its /dev/serial/by-id name, which stays the same in any port";
    }
    return missing;
}

std::optional<Obstacle> NotADevice(const SerialDeviceIdentity& identity)
{
    std::error_code error;
    if (!fs::is_directory(identity.node, error)) {
        return std::nullopt;
    }
    return Obstacle{identity.node + " is a folder, not a serial device",
                    "name the device itself: /dev/ttyUSB0, /dev/ttyACM0 or a /dev/serial/by-id name"};
}

std::string GroupName(gid_t id)
{
    std::vector<char> buffer(16 * 1024);
    group entry{};
    group* found = nullptr;
    const bool named = ::getgrgid_r(id, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr;
    return named ? std::string(found->gr_name) : std::to_string(id);
}

// In the words the relay uses when the host refuses it the device.
std::optional<Obstacle> NoPermission(const SerialDeviceIdentity& identity)
{
    if (::faccessat(AT_FDCWD, identity.node.c_str(), R_OK | W_OK, AT_EACCESS) == 0 ||
        (errno != EACCES && errno != EPERM)) {
        return std::nullopt;
    }
    Obstacle refused{"no permission to open " + identity.node, "ask the machine's administrator for access"};
    struct stat node {};
    if (::stat(identity.node.c_str(), &node) != 0) {
        return refused;
    }
    if ((node.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
        refused.fix = "it lets in only its owner; " + refused.fix;
    } else {
        refused.fix = "add yourself to its group with `sudo usermod -aG " + GroupName(node.st_gid) +
                      " $USER`, then log in again";
    }
    return refused;
}

std::optional<Obstacle> OpenElsewhere(const SerialDeviceIdentity& identity,
                                      const std::vector<HostProcess>& processes, const HostRoots& roots)
{
    DeviceHolders found = ProcessesHolding(processes, roots.proc, identity.node);
    // Tavrel asking from inside, or another copy of it, holds the device to read it.
    const std::string self = std::to_string(::getpid());
    std::erase_if(found.holders,
                  [&self](const HostProcess& process) { return process.name == kTavrel || process.pid == self; });
    if (found.holders.empty()) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    std::transform(found.holders.begin(), found.holders.end(), std::back_inserter(names), Named);
    Obstacle open{identity.node + " is open in " + Joined(names, ", "),
                  "close that program, or stop its service, so that Tavrel alone reads the device"};
    if (found.someUnseen) {
        open.what += std::string(" ") + kUnseenPrograms;
    }
    if (FindProcess(found.holders, kGpsd)) {
        open.fix += "\ngpsd takes receivers as they are plugged in: set USBAUTO=\"false\" in /etc/default/gpsd, then "
                    "`sudo systemctl restart gpsd`; Tavrel can hand gpsd one of its virtual ports instead "
                    "(`tavrel-config set gpsd on`)";
    }
    return open;
}

// ModemManager probes a hardware tty; pseudo-terminals and virtual consoles it leaves alone.
bool OnHardware(const SerialDeviceIdentity& identity)
{
    return !identity.driver.empty() || !identity.usbVendor.empty();
}

bool UdevSaysIgnore(const SerialDeviceIdentity& identity, const HostRoots& roots)
{
    if (identity.deviceNumber.empty()) {
        return false;
    }
    const std::vector<std::string> record = Lines(roots.udevData / ("c" + identity.deviceNumber));
    return std::find(record.begin(), record.end(), kIgnoreProperty) != record.end();
}

std::optional<Obstacle> ModemManagerProbes(const SerialDeviceIdentity& identity,
                                           const std::vector<HostProcess>& processes, const HostRoots& roots)
{
    const std::optional<HostProcess> manager = FindProcess(processes, kModemManager);
    if (!manager || !OnHardware(identity) || UdevSaysIgnore(identity, roots)) {
        return std::nullopt;
    }
    Obstacle probes{Named(*manager) + " runs and may probe " + identity.node +
                        " with modem commands for many seconds after it appears: udev does not tell it to leave "
                        "the device alone (ID_MM_DEVICE_IGNORE)",
                    "with no modem on this machine: `sudo systemctl disable --now ModemManager`"};
    if (const std::string rule = UdevIgnoreRule(identity); !rule.empty()) {
        probes.fix = std::string("put this line in ") + kReceiverRules + ":\n  " + rule + "\nthen run `" +
                     kReloadUdev + " && sudo udevadm trigger`\n(" + probes.fix + ")";
    }
    return probes;
}

bool BrlttyInstalled(const HostRoots& roots)
{
    return std::any_of(std::begin(kProgramFolders), std::end(kProgramFolders),
                       [&](const char* folder) { return Exists(roots.fileSystem / folder / kBrltty); });
}

bool IsBrlttyRules(const fs::path& file)
{
    const std::string name = file.filename().string();
    return name.find(kBrltty) != std::string::npos && file.extension() == ".rules";
}

// A rules file is masked by a link to /dev/null of the same name among the local rules.
bool Masked(const std::string& name, const HostRoots& roots)
{
    std::error_code error;
    return fs::read_symlink(roots.fileSystem / kLocalRules / name, error) == "/dev/null" && !error;
}

// The names of brltty's udev rules files that udev reads.
std::vector<std::string> BrlttyRules(const HostRoots& roots)
{
    std::set<std::string> names;
    for (const char* folder : kRulesFolders) {
        for (const fs::path& file : FolderEntries(roots.fileSystem / folder)) {
            if (IsBrlttyRules(file) && !Masked(file.filename().string(), roots)) {
                names.insert(file.filename().string());
            }
        }
    }
    return {names.begin(), names.end()};
}

std::string BrlttyFix(const std::vector<std::string>& rules)
{
    std::string fix = "with no braille display on this machine: `sudo apt remove brltty`, then plug the receiver in "
                      "again";
    std::vector<std::string> masks;
    for (const std::string& name : rules) {
        masks.push_back("sudo ln -s /dev/null /etc/udev/rules.d/" + name);
    }
    if (!masks.empty()) {
        fix += "\nto keep brltty, keep its udev rules from starting it: `" + Joined(masks, " && ") + " && " +
               kReloadUdev + "`, then plug the receiver in again";
    }
    return fix;
}

std::optional<Obstacle> BrlttyTakes(const std::vector<HostProcess>& processes, const HostRoots& roots)
{
    const std::optional<HostProcess> running = FindProcess(processes, kBrltty);
    const std::vector<std::string> rules = BrlttyRules(roots);
    if (!running && (rules.empty() || !BrlttyInstalled(roots))) {
        return std::nullopt;
    }
    const std::string present = running ? "brltty runs (pid " + running->pid + ")"
                                        : "brltty is installed and its udev rules start it for a USB adapter it knows";
    return Obstacle{present + ": it takes USB serial adapters with some common chips (CH340, CP210x, FTDI, PL2303) "
                              "for braille displays, and their tty goes away",
                    BrlttyFix(rules)};
}

void Add(std::vector<Obstacle>& found, std::optional<Obstacle> obstacle)
{
    if (obstacle) {
        found.push_back(std::move(*obstacle));
    }
}

}  // namespace

std::vector<Obstacle> FindObstacles(const std::string& path, const HostRoots& roots)
{
    const SerialDeviceIdentity identity = DescribeSerialDevice(path, roots);
    const std::vector<HostProcess> processes = ListProcesses(roots.proc);
    std::vector<Obstacle> found;
    if (identity.node.empty()) {
        found.push_back(Missing(path, roots));
    } else if (std::optional<Obstacle> folder = NotADevice(identity)) {
        return {std::move(*folder)};
    } else {
        Add(found, NoPermission(identity));
        Add(found, OpenElsewhere(identity, processes, roots));
        Add(found, ModemManagerProbes(identity, processes, roots));
    }
    // A missing USB adapter may be one that brltty took away.
    if (identity.node.empty() || !identity.usbVendor.empty()) {
        Add(found, BrlttyTakes(processes, roots));
    }
    return found;
}

bool SomeProgramsUnseen(const HostRoots& roots)
{
    // No descriptor leads to an empty path: only whether some could not be read counts.
    return ProcessesHolding(ListProcesses(roots.proc), roots.proc, fs::path()).someUnseen;
}

}  // namespace tavrel::host_check
