// The user's choices, one record for the life of the program.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/types.h"
#include "state/baud_rates.h"
#include "state/extra_inputs.h"
#include "state/output_options.h"
#include "state/port_lists.h"
#include "state/setting_table.h"

// A number that the user-interface thread may change while the relay worker
// reads it. A copy takes the value, so that the record it sits in can still
// be set as a whole before any worker exists.
class SharedNumber {
public:
    constexpr SharedNumber(std::uint32_t value = 0) noexcept : value_(value) {}
    SharedNumber(const SharedNumber& other) noexcept : value_(other.load()) {}
    SharedNumber& operator=(const SharedNumber& other) noexcept
    {
        store(other.load());
        return *this;
    }

    std::uint32_t load() const noexcept { return value_.load(); }
    void store(std::uint32_t value) noexcept { value_.store(value); }

private:
    std::atomic<std::uint32_t> value_;
};

// A number setting's default, as the record's field holds it.
template <typename Field>
constexpr Field DefaultOf(SettingId id)
{
    return static_cast<Field>(Setting(id).defaultNumber);
}

struct Settings {
    std::int32_t inputPort = DefaultOf<std::int32_t>(SettingId::Input);   // the input's COM number
    BaudIndex baudIndex = DefaultOf<BaudIndex>(SettingId::Baud);
    std::uint32_t autostart = DefaultOf<std::uint32_t>(SettingId::Autostart);   // 0 off, anything else on
    // 0 off: a failed read of the input ends the run. Anything else on: the
    // run waits for the input to come back and relays again. The Reconnect
    // box changes it at once, also while relaying runs.
    SharedNumber reconnect{DefaultOf<std::uint32_t>(SettingId::Reconnect)};
    // Hand a virtual port to gpsd as it appears: 0 off, anything else on.
    std::uint32_t gpsdHandoff = DefaultOf<std::uint32_t>(SettingId::GpsdHandoff);
    // The output that gpsd is given: its COM number, or kGpsdFirstOutput.
    // gpsd gets one port only: the readers of one port share what arrives.
    std::int32_t gpsdPort = DefaultOf<std::int32_t>(SettingId::GpsdPort);
    std::u16string gpsdSocket{Setting(SettingId::GpsdSocket).defaultText};   // gpsd's control socket
    // Read beside the main input and merged with it line by line; taken at
    // each start of the relay.
    ExtraInputs extraInputs{};
    // Sent to the main input each time it is opened; empty for nothing.
    std::string inputInit{};
    // Each virtual output's (by its COM number), the TCP server's and the UDP
    // target's talk and shape; taken at each start of the relay.
    std::array<OutputOptions, kHighestOutput + 1> portOptions{};
    OutputOptions tcpOptions{};
    OutputOptions udpOptions{};
};

extern Settings AppSettings;

// The output among `outputs` (in list order) that the hand-off gives gpsd:
// nothing while the hand-off is off, or when "GpsdPort" names a port that is
// not among them.
std::optional<PortNumber> GpsdPortAmong(const PortList& outputs);
