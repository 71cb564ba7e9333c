// The companions' places: the install's library folder for them, with and
// without the host's multiarch part, is the build's (PLATFORM_MULTIARCH,
// PLATFORM_COMPANION_FOLDER).
#include "platform/companion_files.h"

#include <system_error>

namespace platform {

std::filesystem::path RunningProgramFolder()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : program.parent_path();
}

std::vector<std::filesystem::path> CompanionCandidates(const std::filesystem::path& programFolder,
                                                       std::string_view name)
{
    std::vector<std::filesystem::path> folders{programFolder};
    const std::filesystem::path lib = programFolder.parent_path() / "lib";
    const std::string multiarch = PLATFORM_MULTIARCH;
    if (!multiarch.empty()) {
        folders.push_back(lib / multiarch / PLATFORM_COMPANION_FOLDER);
    }
    folders.push_back(lib / PLATFORM_COMPANION_FOLDER);
    for (std::filesystem::path& folder : folders) {
        folder /= name;
    }
    return folders;
}

std::filesystem::path FindCompanion(const std::filesystem::path& programFolder, std::string_view name,
                                    const std::filesystem::path& built)
{
    std::vector<std::filesystem::path> candidates = CompanionCandidates(programFolder, name);
    if (!built.empty()) {
        candidates.push_back(built);
    }
    for (const std::filesystem::path& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) {
            return candidate;
        }
    }
    return {};
}

std::string CompanionNotFound(const std::filesystem::path& programFolder, std::string_view name)
{
    const std::string multiarch = PLATFORM_MULTIARCH;
    const std::string folder = PLATFORM_COMPANION_FOLDER;
    return std::string(name) + " is neither beside " + programFolder.string() + " nor in " +
           (multiarch.empty() ? "" : "../lib/" + multiarch + "/" + folder + " or ") + "../lib/" + folder;
}

}  // namespace platform
