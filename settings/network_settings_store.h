// The network outputs' settings in the registry, beside the window's own
// settings: DWORD "TcpPort" and "TcpAnyAddress", REG_SZ "TcpAllow" and
// "UdpTarget". A missing value reads as its default.
#pragma once

#include <string>

#include "state/network_settings.h"

NetworkSettings LoadNetworkSettings();

// Whether every value of `settings` can be used: a port of 0 to 65535, an
// allow list that parses, a UDP target "host:port" that parses. False with
// `failure` naming the value and why.
bool CheckNetworkSettings(const NetworkSettings& settings, std::string& failure);

// Checks `settings` and stores all four values in one write. False with
// `failure` saying why, and nothing stored.
bool SaveNetworkSettings(const NetworkSettings& settings, std::string& failure);
