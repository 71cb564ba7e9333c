// The host files that the processes of one device share under <device root>/run/:
// lock files held with flock for as long as something lives (the kernel drops
// the lock when the holder ends, even by SIGKILL), and small data files that
// are replaced as a whole.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/host/file_calls.h"
#include "platform/host/unique_fd.h"

namespace platform::session {

using host::ReadSmallFile;
using host::StillNamedBy;
using host::UniqueFd;

// <device root>/run, where the shared state of the device lives.
std::filesystem::path RunFolder(const std::filesystem::path& deviceRoot);

// A number that names the device, the same for every spelling of its root
// ("/a/b", "/a/./b/"), for names that cannot hold the whole path.
std::uint64_t DeviceIdentity(const std::filesystem::path& deviceRoot);

// Opens (creating when needed) a file to lock; the folders above it are created.
// Invalid on failure, with errno set.
UniqueFd OpenLockFile(const std::filesystem::path& file);

enum class LockMode { Shared, Exclusive };
enum class LockWait { Block, DoNotBlock };

// Takes an flock on the open file description; false when it is held
// elsewhere (DoNotBlock) or on an error. EINTR is retried.
bool Lock(const UniqueFd& file, LockMode mode, LockWait wait);

// Replaces the file's content as a whole: readers see the old text or the new,
// never a part. A temporary beside it is written first and renamed over it.
bool ReplaceFile(const std::filesystem::path& file, const std::string& text);

// Hex digits of 16-bit units, four per unit, and back: a name of any
// characters becomes a safe file name or a single token on a line.
std::string HexOfUnits(std::u16string_view text);
std::optional<std::u16string> UnitsOfHex(std::string_view hex);

}  // namespace platform::session
