#include "gpsd/gpsd_handoff.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <utility>

#include "gpsd/gpsd_control.h"
#include "platform/kernel.h"
#include "platform/strings.h"

namespace tavrel::gpsd {
namespace {

using namespace std::chrono_literals;

// gpsd told to open what it is handed at once (-n) answers "+" only once it
// has opened the device and heard from it: seconds from a receiver that
// speaks once a second. A hand-over cut short by the run's end does not wait.
constexpr auto kHandOverTime = 10s;
constexpr auto kTakeBackTime = 1s;
// gpsd opens a device that it was handed anew only once more than 2 whole
// seconds of its clock have passed since, and only when one of its sockets
// wakes it: so it is woken just after that moment, and once more later.
constexpr std::chrono::milliseconds kWakeAfterWholeSeconds[] = {3100ms, 4100ms};
constexpr auto kWakeTime = 500ms;

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

void HandPortsToGpsd(const std::string& socketPath, const std::vector<std::string>& portPaths, int cut)
{
    if (portPaths.empty()) {
        return;
    }
    GpsdControl gpsd(socketPath, kHandOverTime, cut);
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
    GpsdControl gpsd(socketPath, kTakeBackTime);
    for (const std::string& path : portPaths) {
        // gpsd no longer listing the port ("ERROR") is what was asked for.
        if (!gpsd.Remove(path)) {
            Debug("gpsd hand-off: " + gpsd.failure());
            return;
        }
    }
}

GpsdHandOff::GpsdHandOff(std::string socketPath, std::vector<std::string> portPaths)
    : socketPath_(std::move(socketPath)),
      portPaths_(std::move(portPaths))
{
    if (!end_.valid()) {
        throw std::system_error(errno, std::generic_category(), "cannot make the hand-off's end event");
    }
    thread_ = std::thread([this] { HandOver(); });
}

GpsdHandOff::~GpsdHandOff()
{
    end_.Wake();
    thread_.join();
    TakePortsFromGpsd(socketPath_, portPaths_);
}

bool GpsdHandOff::SleepUntil(std::chrono::system_clock::time_point moment) const
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(moment - std::chrono::system_clock::now());
        pollfd end{end_.fd(), POLLIN, 0};
        const int ready = ::poll(&end, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready > 0 || (ready < 0 && errno != EINTR)) {
            return false;
        }
        if (ready == 0 && std::chrono::system_clock::now() >= moment) {
            return true;
        }
    }
}

void GpsdHandOff::HandOver() const
{
    HandPortsToGpsd(socketPath_, portPaths_, end_.fd());
    if (portPaths_.empty()) {
        return;
    }
    const auto handed = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    for (const auto after : kWakeAfterWholeSeconds) {
        if (!SleepUntil(handed + after)) {
            return;
        }
        // A connection that says nothing is enough to wake gpsd's loop.
        const GpsdControl wake(socketPath_, kWakeTime, end_.fd());
    }
}

}  // namespace tavrel::gpsd
