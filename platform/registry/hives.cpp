// Mounting the hives on their files, and going back to memory only.
#include "registry/hives.h"

#include <system_error>

#include "registry/hive_file.h"
#include "registry/reg_text.h"
#include "registry/registry_state.h"

namespace platform::registry {
namespace {

constexpr const char* kFileNames[] = {"system.reg", "user.reg"};

void ResetHive(Hive& hive, std::filesystem::path file)
{
    hive.root = std::make_shared<Key>(std::u16string(), nullptr);
    hive.file = std::move(file);
    hive.unusable = false;
}

// A hive whose file could not be read stays empty and is never written (its
// calls fail before they change anything), so the file is kept as it is for
// someone to repair.
std::string MarkUnusable(Hive& hive, const std::string& where, const std::string& reason)
{
    hive.unusable = true;
    return where + ": " + reason;
}

std::string LoadHive(Hive& hive)
{
    const std::filesystem::path& file = hive.file;
    const FileRead read = ReadHiveFile(file);
    if (read.status == FileRead::Status::Missing) {
        return {};
    }
    if (read.status == FileRead::Status::Failed) {
        return MarkUnusable(hive, file.string(), read.error);
    }
    ParsedHive parsed = ParseHive(read.text, hive.rootName);
    if (parsed.root == nullptr) {
        return MarkUnusable(hive, file.string() + ":" + std::to_string(parsed.errorLine), parsed.error);
    }
    hive.root = std::move(parsed.root);
    return {};
}

}  // namespace

MountResult MountHives(const std::filesystem::path& folder)
{
    LockedRegistry registry;
    registry.CloseAllHandles();
    std::error_code folderError;
    std::filesystem::create_directories(folder, folderError);
    MountResult result{true, {}};
    for (std::size_t i = 0; i < registry.hives().size(); ++i) {
        Hive& hive = registry.hives()[i];
        ResetHive(hive, folder / kFileNames[i]);
        std::string error = folderError ? MarkUnusable(hive, hive.file.string(), "cannot create the folder: " +
                                                                                 folderError.message())
                                        : LoadHive(hive);
        if (!error.empty()) {
            result.ok = false;
            result.errors.push_back(std::move(error));
        }
    }
    return result;
}

void UnmountHives()
{
    LockedRegistry registry;
    registry.CloseAllHandles();
    for (Hive& hive : registry.hives()) {
        ResetHive(hive, {});
    }
}

}  // namespace platform::registry
