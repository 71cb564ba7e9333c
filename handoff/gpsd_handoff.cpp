#include "handoff/gpsd_handoff.h"

#include <chrono>

#include "handoff/gpsd_control.h"
#include "platform/kernel.h"
#include "platform/strings.h"

namespace handoff {
namespace {

using namespace std::chrono_literals;

constexpr auto kHandOverTime = 2s;
constexpr auto kTakeBackTime = 1s;

void Debug(const std::string& line)
{
    OutputDebugStringW(platform::ToUtf16(line + "\n").c_str());
}

// One port handed over; false when the conversation has failed.
bool HandOver(GpsdControl& gpsd, const std::string& path)
{
    std::optional<GpsdReply> reply = gpsd.Add(path);
    if (reply == GpsdReply::Error) {
        if (!gpsd.Remove(path)) {
            return false;
        }
        reply = gpsd.Add(path);
    }
    if (!reply) {
        return false;
    }
    Debug(*reply == GpsdReply::Ok ? "gpsd takes " + path : "gpsd hand-off: gpsd refused " + path);
    return true;
}

}  // namespace

void HandPortsToGpsd(const std::string& socketPath, const std::vector<std::string>& portPaths)
{
    if (portPaths.empty()) {
        return;
    }
    GpsdControl gpsd(socketPath, GpsdControl::Clock::now() + kHandOverTime);
    for (const std::string& path : portPaths) {
        if (!HandOver(gpsd, path)) {
            Debug("gpsd hand-off: " + gpsd.failure());
            return;
        }
    }
}

void TakePortsFromGpsd(const std::string& socketPath, const std::vector<std::string>& portPaths)
{
    if (portPaths.empty()) {
        return;
    }
    GpsdControl gpsd(socketPath, GpsdControl::Clock::now() + kTakeBackTime);
    for (const std::string& path : portPaths) {
        // gpsd no longer listing the port ("ERROR") is what was asked for.
        if (!gpsd.Remove(path)) {
            Debug("gpsd hand-off: " + gpsd.failure());
            return;
        }
    }
}

}  // namespace handoff
