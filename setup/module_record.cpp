#include "setup/module_record.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <system_error>

#include "platform/host/file_calls.h"
#include "setup/durable_file.h"

namespace tavrel::setup {
namespace {

// A driver module of any build is far smaller; a larger file is not one.
constexpr std::size_t kLargestModule = 256 * 1024 * 1024;

// "<size> bytes, FNV-1a 64 <digest>": enough to tell the installed module
// from any other file; nobody is expected to forge it. Nothing when the
// module cannot be read (errno tells).
std::optional<std::string> Fingerprint(const std::filesystem::path& module)
{
    const std::optional<std::string> bytes = platform::host::ReadSmallFile(module, kLargestModule);
    if (!bytes) {
        return std::nullopt;
    }
    std::uint64_t digest = 0xcbf29ce484222325ULL;
    for (const char byte : *bytes) {
        digest = (digest ^ static_cast<unsigned char>(byte)) * 0x100000001b3ULL;
    }
    char text[80];
    std::snprintf(text, sizeof text, "%zu bytes, FNV-1a 64 %016" PRIx64 "\n", bytes->size(), digest);
    return text;
}

std::string Unreadable(const std::filesystem::path& file, int error)
{
    return FileProblem("cannot read", file, error);
}

}  // namespace

std::filesystem::path ModuleRecordFile(const std::filesystem::path& module)
{
    std::filesystem::path record = module;
    record += ".installed";
    return record;
}

std::string RecordInstalledModule(const std::filesystem::path& module)
{
    const std::optional<std::string> fingerprint = Fingerprint(module);
    if (!fingerprint) {
        return Unreadable(module, errno);
    }
    return WriteFileDurably(ModuleRecordFile(module), *fingerprint, 0644);
}

ModuleCheck CheckInstalledModule(const std::filesystem::path& module, const std::filesystem::path& shipped)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::symlink_status(module, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        return {ModuleState::Missing, {}};
    }
    if (error) {
        return {ModuleState::Unreadable, Unreadable(module, error.value())};
    }
    if (status.type() != std::filesystem::file_type::regular) {
        return {ModuleState::NotInstalled, {}};   // install copies a regular file there, never a link
    }
    const std::filesystem::path recordFile = ModuleRecordFile(module);
    std::optional<std::string> record = platform::host::ReadSmallFile(recordFile, 4096);
    if (!record && errno != ENOENT && !platform::host::FoundNoSmallFile(errno)) {
        return {ModuleState::Unreadable, Unreadable(recordFile, errno)};
    }
    if (!record) {
        record = Fingerprint(shipped);   // nothing when the shipped module is gone: not ours then
        if (!record) {
            return {ModuleState::NotInstalled, {}};
        }
    }
    const std::optional<std::string> fingerprint = Fingerprint(module);
    if (!fingerprint) {
        return {ModuleState::Unreadable, Unreadable(module, errno)};
    }
    return {*fingerprint == *record ? ModuleState::Installed : ModuleState::NotInstalled, {}};
}

bool ChangedSinceInstalled(const std::filesystem::path& module)
{
    const std::optional<std::string> record = platform::host::ReadSmallFile(ModuleRecordFile(module), 4096);
    const std::optional<std::string> fingerprint = record ? Fingerprint(module) : std::nullopt;
    return fingerprint && *fingerprint != *record;
}

bool SameBytes(const std::filesystem::path& left, const std::filesystem::path& right)
{
    const std::optional<std::string> leftPrint = Fingerprint(left);
    return leftPrint && leftPrint == Fingerprint(right);
}

}  // namespace tavrel::setup
