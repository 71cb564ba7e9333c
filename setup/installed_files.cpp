#include "setup/installed_files.h"

#include <string>
#include <system_error>

namespace tavrel::tools {

std::filesystem::path RunningProgramFolder()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : program.parent_path();
}

std::vector<std::filesystem::path> ShippedFileCandidates(const std::filesystem::path& programFolder,
                                                         std::string_view name)
{
    std::vector<std::filesystem::path> folders{programFolder};
    const std::filesystem::path lib = programFolder.parent_path() / "lib";
    const std::string multiarch = TAVREL_MULTIARCH;
    if (!multiarch.empty()) {
        folders.push_back(lib / multiarch / "tavrel");
    }
    folders.push_back(lib / "tavrel");
    for (std::filesystem::path& folder : folders) {
        folder /= name;
    }
    return folders;
}

std::filesystem::path FindShippedFile(const std::filesystem::path& programFolder, std::string_view name,
                                      const std::filesystem::path& built)
{
    std::vector<std::filesystem::path> candidates = ShippedFileCandidates(programFolder, name);
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

ShippedFiles FindShippedFiles()
{
    const std::filesystem::path folder = RunningProgramFolder();
    return {FindShippedFile(folder, kVirtualPortModuleFile, QUORVEL_MODULE_PATH),
            FindShippedFile(folder, kStartupLauncherFile, TAVREL_STARTUP_PATH)};
}

std::string NotFound(const std::filesystem::path& programFolder, std::string_view name)
{
    const std::string multiarch = TAVREL_MULTIARCH;
    return std::string(name) + " is neither beside " + programFolder.string() + " nor in " +
           (multiarch.empty() ? "" : "../lib/" + multiarch + "/tavrel or ") + "../lib/tavrel";
}

}  // namespace tavrel::tools
