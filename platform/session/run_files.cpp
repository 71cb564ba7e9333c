#include "session/run_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/host/interrupted_calls.h"

namespace platform::session {
namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

std::filesystem::path RunFolder(const std::filesystem::path& deviceRoot)
{
    return deviceRoot / "run";
}

std::uint64_t DeviceIdentity(const std::filesystem::path& deviceRoot)
{
    std::error_code error;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(deviceRoot, error);
    if (error) {
        canonical = std::filesystem::absolute(deviceRoot, error).lexically_normal();
    }
    std::string text = canonical.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    // FNV-1a, 64 bits.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    return hash;
}

UniqueFd OpenLockFile(const std::filesystem::path& file)
{
    // The folders' own error tells why (a read-only file system, a file in
    // the way), where the open after it would only find the path missing.
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    if (error) {
        errno = error.value();
        return UniqueFd();
    }
    // O_CLOEXEC: a program started from this one must not inherit the lock
    // and keep it alive after this process has gone.
    return UniqueFd(host::RetryOnInterrupt([&] { return ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644); }));
}

bool Lock(const UniqueFd& file, LockMode mode, LockWait wait)
{
    const int operation = (mode == LockMode::Shared ? LOCK_SH : LOCK_EX) | (wait == LockWait::DoNotBlock ? LOCK_NB : 0);
    return host::RetryOnInterrupt([&] { return ::flock(file.get(), operation); }) == 0;
}

bool ReplaceFile(const std::filesystem::path& file, const std::string& text)
{
    // Nothing here has to outlive a power cut (run/ describes live processes),
    // so the temporary is not synced; the rename alone makes the change whole.
    std::filesystem::path temporary = file;
    temporary += ".tmp";
    const UniqueFd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!out.valid() || !host::WriteAll(out.get(), text) || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::string HexOfUnits(std::u16string_view text)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(text.size() * 4);
    for (const char16_t unit : text) {
        for (int shift = 12; shift >= 0; shift -= 4) {
            hex.push_back(kDigits[(unit >> shift) & 0xF]);
        }
    }
    return hex;
}

std::optional<std::u16string> UnitsOfHex(std::string_view hex)
{
    if (hex.size() % 4 != 0) {
        return std::nullopt;
    }
    std::u16string text;
    text.reserve(hex.size() / 4);
    for (std::size_t i = 0; i < hex.size(); i += 4) {
        unsigned unit = 0;
        for (std::size_t j = i; j < i + 4; ++j) {
            const int digit = HexDigit(hex[j]);
            if (digit < 0) {
                return std::nullopt;
            }
            unit = (unit << 4) | static_cast<unsigned>(digit);
        }
        text.push_back(static_cast<char16_t>(unit));
    }
    return text;
}

}  // namespace platform::session
