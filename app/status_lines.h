// What the relay does, as the lines of the Status dialog's list: the input,
// each virtual port, the TCP server and its clients, the UDP output. Short
// lines, so that they fit the list on either screen layout.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "relay/relay_health.h"

// `now` is the moment the clients' connection times are measured from.
std::vector<std::u16string> StatusLines(const RelayHealth& health, std::chrono::system_clock::time_point now);

// A network output's failure as a person reads it: "TCP server: <why>". A
// failure that names its output already is taken as it is.
std::u16string FailureText(const char16_t* output, const std::string& failure);

// "45 s", "3 min 12 s", "2 h 05 min".
std::u16string DurationText(std::chrono::seconds duration);
