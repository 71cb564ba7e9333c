// The inputs read beside the main one: serial devices, TCP sources and UDP
// ports whose lines are merged into the relayed stream. Kept in the
// registry as one line of text each ("Input1" to "Input8").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

enum class ExtraInputKind : std::uint8_t { Serial, Tcp, Udp };

// The main input is input 0; the extra ones count from 1.
inline constexpr std::size_t kMostExtraInputs = 8;
inline constexpr DWORD kDefaultStandbySeconds = 3;

struct ExtraInput {
    ExtraInputKind kind = ExtraInputKind::Serial;
    // Serial: "COM3" or a host path, kept as written (a /dev/serial/by-id
    // link follows its receiver). TCP: the host to connect to.
    std::string device;
    std::optional<std::int32_t> comPort;   // serial: the COM number, when `device` names one
    DWORD baudRate = 4800;        // serial only
    std::uint16_t port = 0;       // TCP: the server's port; UDP: the port listened on
    std::string group;            // UDP: a multicast group to join, or empty
    std::string name;             // how the status names it; empty: its kind and place
    // The input (0 the main one) whose silence this one stands in for.
    std::optional<std::size_t> standbyFor;
    DWORD standbySeconds = kDefaultStandbySeconds;
    // Sent to the input each time it is opened or connected anew (a
    // receiver's rate or sentence-set command); empty for nothing. UDP
    // inputs have nobody to send it to.
    std::string init;
};

using ExtraInputs = std::vector<ExtraInput>;
