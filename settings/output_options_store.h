// The outputs' options and the main input's start-up command in the
// registry: "OutputCOM0" to "OutputCOM9", "OutputTcp", "OutputUdp" and
// "InputInit" under the settings key, one line each.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_key.h"
#include "state/output_options.h"
#include "state/setting_table.h"

// The options stored in row `id`; the defaults when there are none, or, with
// a line for `problems`, when the stored line does not describe them.
OutputOptions ReadOutputOptions(const platform::RegistryKey& key, SettingId id, std::vector<std::string>& problems);

// Stores `options` in row `id` (the defaults remove it). False when the key
// cannot be written.
bool WriteOutputOptions(const platform::RegistryKey& key, SettingId id, const OutputOptions& options);

// The row of the output that a person names: "COM2" (0 to 9), "tcp" or "udp".
std::optional<SettingId> OutputSettingNamed(std::string_view name);

// The main input's start-up command, its escapes read; empty when there is
// none or, with a line for `problems`, when it cannot be read.
std::string ReadInputInit(const platform::RegistryKey& key, std::vector<std::string>& problems);
