// The one way that numbers are read from the registry, by the device and by
// the programs alike, so that a value means the same number wherever it is
// read. A value of 1 to 4 bytes holds a little-endian number whose missing
// high bytes are 0: "dword:00000004", "hex:04" and "hex:04,00" all hold 4.
// Its registry type is not looked at, so a text value of 4 bytes (one
// character and the terminator) holds that character's code. A value that is
// missing, empty or longer than 4 bytes holds no number: the reader keeps the
// default it has for one.
#pragma once

#include <optional>

#include "platform/registry.h"

namespace platform {

// The number that the value `name` of the open key `key` holds; nothing when
// it holds none or the key cannot be read.
std::optional<DWORD> QueryRegistryNumber(HKEY key, LPCWSTR name);

}  // namespace platform
