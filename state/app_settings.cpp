#include "state/app_settings.h"

Settings AppSettings;

std::optional<PortNumber> GpsdPortAmong(const PortList& outputs)
{
    if (AppSettings.gpsdHandoff == 0 || outputs.empty()) {
        return std::nullopt;
    }
    if (AppSettings.gpsdPort == kGpsdFirstOutput) {
        return outputs.front();
    }
    for (const PortNumber port : outputs) {
        if (port == AppSettings.gpsdPort) {
            return port;
        }
    }
    return std::nullopt;
}
