#include "bench/tavrel_device.h"

#include <algorithm>
#include <stdexcept>

#include "platform/boot.h"
#include "platform/registry_key.h"
#include "setup/builtin_port_keys.h"
#include "state/setting_table.h"

namespace tavrel::bench {
namespace {

bool SaveSplit(std::uint32_t mask)
{
    const platform::RegistryKey key(HKEY_CURRENT_USER, kSettingsKey, platform::RegistryKey::Open::OrCreate);
    return key.SetNumber(RegistryName(SettingId::Outputs), mask);
}

}  // namespace

std::vector<int> OutputNumbers(int count)
{
    const std::vector<int> order = {2, 3, 4, 5, 6, 7, 8, 0, 1};
    return {order.begin(), order.begin() + std::clamp(count, 0, static_cast<int>(order.size()))};
}

std::uint32_t SplitMask(const std::vector<int>& numbers)
{
    std::uint32_t mask = 0;
    for (const int number : numbers) {
        mask |= 1u << (number + 1);
    }
    return mask;
}

void ChooseOutputs(const std::filesystem::path& deviceRoot, const std::filesystem::path& portFolder,
                   const std::vector<int>& outputs, const std::string& inputTty)
{
    platform::DeviceSettings settings;
    settings.deviceRoot = deviceRoot;
    settings.portFolder = portFolder;
    settings.syncHostSerialPorts = false;
    if (!platform::BootDevice(settings).ok) {
        throw std::runtime_error("the device at " + deviceRoot.string() + " does not boot");
    }
    std::vector<int> needed = outputs;
    needed.push_back(kInputPortNumber);
    const bool chosen = setup::MoveBuiltInPortsOff(needed, inputTty) && SaveSplit(SplitMask(outputs));
    platform::ShutdownDevice();
    if (!chosen) {
        throw std::runtime_error("cannot choose the outputs on the device at " + deviceRoot.string());
    }
}

}  // namespace tavrel::bench
