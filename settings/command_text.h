// A command sent to a receiver, as a person writes it on one line: printable
// characters as they are, and \r, \n, \t, \\ and \xHH for the rest
// ("$PMTK220,1000*1F\r\n", "\xB5\x62\x06\x08...").
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The longest command, in bytes once its escapes are read.
inline constexpr std::size_t kLongestCommand = 1024;

// The bytes that `typed` stands for; nothing, with `reason`, for an escape
// that is not one of the above or a command longer than kLongestCommand.
std::optional<std::string> DecodeCommandText(std::string_view typed, std::string& reason);

// The text that decodes back to `bytes`: printable ASCII as it is (a
// backslash doubled), CR, LF and tab by their letters, any other byte \xHH.
std::string EncodeCommandText(std::string_view bytes);
