// The outputs' options and the main input's start-up command in the
// registry: "OutputCOM0" to "OutputCOM9", "OutputTcp", "OutputUdp" and
// "InputInit" under the settings key, one line each.
#pragma once

#include <array>
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

// The outputs' options as stored: the virtual ports' by COM number, then the
// TCP server's and the UDP target's.
struct StoredOutputOptions {
    std::array<OutputOptions, kHighestOutput + 1> ports{};
    OutputOptions tcp{};
    OutputOptions udp{};
};
StoredOutputOptions ReadAllOutputOptions(const platform::RegistryKey& key, std::vector<std::string>& problems);

// Whether extra input `number` may be removed as far as talk goes: no output
// talks to it or to a later input, whose number the removal would change.
// False, with `reason` naming the output, otherwise.
bool TalkAllowsRemoving(const StoredOutputOptions& outputs, std::size_t number, std::string& reason);

// The main input's start-up command, its escapes read; empty when there is
// none or, with a line for `problems`, when it cannot be read.
std::string ReadInputInit(const platform::RegistryKey& key, std::vector<std::string>& problems);
