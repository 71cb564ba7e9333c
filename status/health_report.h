// The relay's health as tavrel-status shows it: JSON for programs (field
// names that stay, numbers as numbers, nothing as null) and a table for a
// person at a terminal.
#pragma once

#include <string>

#include "relay/relay_health.h"

// One JSON object, ending in a line end. The times at which network clients
// connected are given in UTC, e.g. "2026-12-08T21:59:24Z".
std::string HealthJson(const RelayHealth& health);

// Lines of text, columns aligned, for a terminal.
std::string HealthTable(const RelayHealth& health);
