#include "status/input_findings.h"

#include "host_check/serial_device_check.h"
#include "platform/boot.h"
#include "setup/builtin_port_keys.h"

namespace {

using namespace std::chrono_literals;
namespace host_check = tavrel::host_check;

// An input that has sent nothing for this long is looked into as well.
constexpr std::chrono::milliseconds kSilentFor = 5s;

// "1546:01a7 u-blox 7 - GPS/GNSS Receiver, serial 123, by-id usb-u-blox_...-if00".
std::string IdentityText(const host_check::SerialDeviceIdentity& identity)
{
    std::string text;
    const auto add = [&text](const std::string& part) {
        if (!part.empty()) {
            text += (text.empty() ? "" : ", ") + part;
        }
    };
    if (!identity.usbVendor.empty()) {
        add(identity.usbVendor + ":" + identity.usbProduct + (identity.product.empty() ? "" : " " + identity.product));
    }
    add(identity.serialNumber.empty() ? "" : "serial " + identity.serialNumber);
    for (const std::string& link : identity.byIdLinks) {
        add("by-id " + std::filesystem::path(link).filename().string());
    }
    return text;
}

// The host path of a serial input: as given, or the host device of the
// built-in port that holds its COM number; empty when none does.
std::string HostPathOf(const InputStatus& input)
{
    return input.comPort ? tavrel::setup::HostDeviceOfPort(static_cast<DWORD>(*input.comPort)) : input.hostPath;
}

bool Troubled(const InputStatus& input)
{
    return input.state == InputState::Waiting || input.state == InputState::Lost ||
           input.sinceLastByte.value_or(kSilentFor) >= kSilentFor;
}

}  // namespace

void AddInputFindings(RelayHealth& health)
{
    const platform::DeviceSettings settings = platform::DeviceSettingsFromEnvironment();
    const host_check::HostRoots roots = host_check::HostRootsUnder(settings.hostDevRoot.parent_path());
    for (InputStatus& input : health.inputs) {
        if (input.kind == "serial" && input.hostPath.empty()) {
            input.hostPath = HostPathOf(input);
        }
        if (input.kind != "serial" || input.hostPath.empty()) {
            continue;
        }
        input.identity = IdentityText(host_check::DescribeSerialDevice(input.hostPath, roots));
        if (Troubled(input)) {
            for (const host_check::Obstacle& obstacle : host_check::FindObstacles(input.hostPath, roots)) {
                input.inTheWay.push_back(obstacle.what);
            }
        }
    }
}
