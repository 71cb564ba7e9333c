// A hive as text, in the REGEDIT4 form that people know from the device:
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\Drivers\BuiltIn\Serial1]
//   "Prefix"="COM"
//   "Index"=dword:00000001
//   @="default value"
//   "Bin"=hex:01,02,ff
//   "Other"=hex(7):41,00,00,00,00,00
//
// Each value takes the most readable form that gives back its exact bytes and
// type: a quoted text only for a REG_SZ that is exactly one terminated,
// well-formed UTF-16 text without control characters; dword: only for a
// 4-byte REG_DWORD; hex: for REG_BINARY; hex(type): for everything else. Keys
// follow their parents in the order of their creation, empty keys included.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "registry/key_tree.h"

namespace platform::registry {

std::string FormatHive(const Key& root, std::u16string_view rootName);

struct ParsedHive {
    std::shared_ptr<Key> root;   // null when the text could not be parsed
    std::size_t errorLine = 0;   // 1-based
    std::string error;
};

// Reads what FormatHive writes, and tolerates what people add when they edit
// it: CRLF line ends, blank lines, ';' comments, the "Windows Registry Editor
// Version 5.00" header, hex data continued with '\' at the end of a line.
// Keys must lie under rootName. Stops at the first error.
ParsedHive ParseHive(std::string_view text, std::u16string_view rootName);

}  // namespace platform::registry
