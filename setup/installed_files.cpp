#include "setup/installed_files.h"

namespace tavrel::setup {

ShippedFiles FindShippedFiles()
{
    const std::filesystem::path folder = platform::RunningProgramFolder();
    return {platform::FindCompanion(folder, kVirtualPortModuleFile, QUORVEL_MODULE_PATH),
            platform::FindCompanion(folder, kStartupLauncherFile, TAVREL_STARTUP_PATH)};
}

}  // namespace tavrel::setup
