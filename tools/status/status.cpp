// tavrel-status: what the running Tavrel of the person's device is doing, for
// scripts and headless machines. It asks Tavrel itself, over the socket that
// Tavrel serves in the device's run folder, so what it shows is taken at the
// moment of asking.
//
//   tavrel-status           the input, the virtual ports and the network outputs, as a table
//   tavrel-status --json    the same as one JSON object
//   tavrel-status --check   the host serial devices of the inputs: who each is
//                           and what stands in its way, with the fix for each
//
// Exit 0 with the answer; 1 when no Tavrel runs on the device (--check: when
// something stands in an input's way); 2 for a wrong argument.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "command_line/command_options.h"
#include "host_check/serial_device_check.h"
#include "platform/answer_socket.h"
#include "platform/boot.h"
#include "platform/registry_key.h"
#include "settings/extra_inputs_store.h"
#include "settings/input_description.h"
#include "settings/setting_values.h"
#include "setup/builtin_port_keys.h"
#include "status/status_service.h"

namespace {

namespace host_check = tavrel::host_check;

const tavrel::command_line::Command kStatus{
    "tavrel-status", "tavrel-status [--json | --check]\n",
    "Shows what the running Tavrel of this device is doing: the input, each virtual\n"
    "port (bytes relayed and dropped, whether a program has it open, its path) and\n"
    "the network outputs. --json prints the same as one JSON object.\n"
    "Exits 1 when no Tavrel runs on this device.\n"
    "--check looks at the host serial devices of the inputs instead: who each is and\n"
    "what stands in its way (a missing device, permissions, another program that has\n"
    "it open, ModemManager, brltty), with the fix for each; it exits 1 when\n"
    "something does. Nothing on the host is changed.\n"
    "Settings are changed with tavrel-config.\n"};

// A serial input of the settings and the host device it reads.
struct SerialInput {
    std::string label;        // "input 0 (COM1)", "input 2 (AIS)"
    std::string device;       // the host path; empty when its COM number names none
    std::string comPort;      // "COM3" when the settings name it so
    std::string howToChoose;  // the tavrel-config command that names its device anew
};

// The column of a device's rows after their titles ("  in the way  ").
constexpr int kTitleWidth = 11;
constexpr std::size_t kTextColumn = 2 + kTitleWidth + 1;
constexpr char kByIdPlaceholder[] = "/dev/serial/by-id/<the receiver>";

std::string ComName(DWORD number)
{
    return "COM" + std::to_string(number);
}

SerialInput MainInput(const platform::RegistryKey& key)
{
    const SettingEntry& entry = Setting(SettingId::Input);
    const DWORD number = SettingNumber(ReadSetting(key, entry), entry);
    return {"input 0 (" + ComName(number) + ")", tavrel::setup::HostDeviceOfPort(number), ComName(number),
            std::string("tavrel-config set input ") + kByIdPlaceholder};
}

// The main input and the extra serial inputs, from the booted device's registry.
std::vector<SerialInput> SerialInputs()
{
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::Existing);
    std::vector<SerialInput> inputs{MainInput(key)};
    std::vector<std::string> problems;
    const ExtraInputs extra = ReadExtraInputs(key, problems);
    for (const std::string& problem : problems) {
        std::fprintf(stderr, "tavrel-status: %s\n", problem.c_str());
    }
    for (std::size_t i = 0; i < extra.size(); ++i) {
        const ExtraInput& input = extra[i];
        if (input.kind != ExtraInputKind::Serial) {
            continue;
        }
        const std::string name = input.name.empty() ? ExtraInputPlace(input) : input.name;
        const std::string number = std::to_string(i + 1);
        SerialInput serial{"input " + number + " (" + name + ")", input.device, {},
                           "tavrel-config inputs remove " + number + ", then tavrel-config inputs add serial " +
                               kByIdPlaceholder + " ..."};
        if (input.comPort) {
            serial.comPort = ComName(static_cast<DWORD>(*input.comPort));
            serial.device = tavrel::setup::HostDeviceOfPort(static_cast<DWORD>(*input.comPort));
        }
        inputs.push_back(std::move(serial));
    }
    return inputs;
}

// One row of a device's report; a text of several lines keeps its column.
void Row(const std::string& title, const std::string& text)
{
    std::string shown;
    for (const char c : text) {
        shown.append(1, c);
        if (c == '\n') {
            shown.append(kTextColumn, ' ');
        }
    }
    std::printf("  %-*s %s\n", kTitleWidth, title.c_str(), shown.c_str());
}

void RowIfAny(const std::string& title, const std::string& text)
{
    if (!text.empty()) {
        Row(title, text);
    }
}

std::string UsbText(const host_check::SerialDeviceIdentity& identity)
{
    std::string text = identity.usbVendor + ":" + identity.usbProduct;
    for (const std::string* part : {&identity.manufacturer, &identity.product}) {
        text += part->empty() ? "" : ", " + *part;
    }
    return identity.serialNumber.empty() ? text : text + ", serial " + identity.serialNumber;
}

void ShowIdentity(const host_check::SerialDeviceIdentity& identity)
{
    if (identity.node.empty()) {
        return;
    }
    Row("device", identity.deviceNumber.empty() ? identity.node : identity.node + " (" + identity.deviceNumber + ")");
    RowIfAny("USB", identity.usbVendor.empty() ? "" : UsbText(identity));
    RowIfAny("driver", identity.driver);
    for (const std::string& link : identity.byIdLinks) {
        Row("by-id", link);
    }
}

// Prints what is known of the input's device and what stands in its way;
// false when something does.
bool ShowInput(const SerialInput& input, const host_check::HostRoots& roots)
{
    std::printf("%s: %s\n", input.label.c_str(), input.device.empty() ? "no host device" : input.device.c_str());
    if (input.device.empty()) {
        Row("in the way", "no built-in port has " + input.comPort);
        Row("fix", "name its device: " + input.howToChoose);
        return false;
    }
    ShowIdentity(host_check::DescribeSerialDevice(input.device, roots));
    const std::vector<host_check::Obstacle> obstacles = host_check::FindObstacles(input.device, roots);
    for (const host_check::Obstacle& obstacle : obstacles) {
        Row("in the way", obstacle.what);
        Row("fix", obstacle.fix);
    }
    if (obstacles.empty()) {
        std::string clean = "nothing found in the way";
        if (host_check::SomeProgramsUnseen(roots)) {
            clean += std::string(" ") + host_check::kUnseenPrograms;
        }
        std::printf("  %s\n", clean.c_str());
    }
    return obstacles.empty();
}

// --check. The inputs are read from the device's registry as the running
// program left them: the boot does not bring the built-in ports in step with
// the host, so an input whose device went keeps its path. TAVREL_HOST_ROOT
// names a made-up host whose dev/ and sys/ stand for the host's; its proc/
// and run/ do too.
int Check()
{
    platform::DeviceSettings settings = platform::DeviceSettingsFromEnvironment();
    settings.syncHostSerialPorts = false;
    const platform::BootResult booted = platform::BootDevice(settings);
    for (const std::string& problem : booted.problems) {
        std::fprintf(stderr, "tavrel-status: %s\n", problem.c_str());
    }
    const std::vector<SerialInput> inputs = booted.ok ? SerialInputs() : std::vector<SerialInput>{};
    platform::ShutdownDevice();
    if (!booted.ok) {
        return 1;
    }
    const host_check::HostRoots roots = host_check::HostRootsUnder(settings.hostDevRoot.parent_path());
    bool clear = true;
    for (const SerialInput& input : inputs) {
        clear = ShowInput(input, roots) && clear;
    }
    return std::fflush(stdout) == 0 && clear ? 0 : 1;
}

int Ask(const char* request)
{
    const platform::DeviceSettings device = platform::DeviceSettingsFromEnvironment();
    const std::optional<std::string> answer =
        platform::AskAnswerSocket(platform::AnswerSocketPath(device.deviceRoot, kStatusSocketName), request);
    if (!answer || answer->empty()) {
        std::fputs("tavrel-status: no Tavrel runs on this device\n", stderr);
        return 1;
    }
    std::fputs(answer->c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> answered = tavrel::command_line::AnswerHelpOrVersion(kStatus, argc, argv)) {
        return *answered;
    }
    const std::string argument = argc > 1 ? argv[1] : "";
    if (argc > 2 || (argc == 2 && argument != "--json" && argument != "--check")) {
        return tavrel::command_line::WrongUsage(kStatus);
    }
    if (argument == "--check") {
        return Check();
    }
    return Ask(argument == "--json" ? "json" : "table");
}
