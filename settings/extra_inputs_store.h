// The extra inputs in the registry: "Input1" to "Input8" under the settings
// key, one line each, kept without gaps so that their numbers (which a
// standby names) are their places.
#pragma once

#include <string>
#include <vector>

#include "platform/registry_key.h"
#include "state/extra_inputs.h"

// The stored inputs in their order. A line that does not describe an input
// is left out, with a line for `problems` naming it and why.
ExtraInputs ReadExtraInputs(const platform::RegistryKey& key, std::vector<std::string>& problems);

// Stores `inputs` as Input1 onwards and removes the rows after them. False
// when the key cannot be written.
bool WriteExtraInputs(const platform::RegistryKey& key, const ExtraInputs& inputs);

// Removes input `number` (1 onwards) from `inputs`: the later ones move down
// a number, and so do the standbys that name them. False, with `reason`, when
// there is no such input or another stands by for it.
bool RemoveExtraInput(ExtraInputs& inputs, std::size_t number, std::string& reason);
