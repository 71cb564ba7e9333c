// Mounting the hives on their files, going back to memory only, and holding a
// hive across several calls.
#include "registry/hives.h"

#include <system_error>

#include "platform/registry.h"
#include "platform/registry_batch.h"
#include "registry/hive_file.h"
#include "registry/hive_sync.h"
#include "registry/registry_state.h"

namespace platform::registry {
namespace {

constexpr const char* kFileNames[] = {"system.reg", "user.reg"};

void ResetHive(Hive& hive, std::filesystem::path file)
{
    hive.root = std::make_shared<Key>(std::u16string(), nullptr);
    hive.file = std::move(file);
    hive.unusable = false;
    hive.seen = FileVersion();
    hive.lock.SetFile(hive.file);
    hive.batches = 0;
    hive.unwritten = false;
    ++hive.mounted;
}

// A hive whose file could not be read stays empty and is never written (its
// calls fail before they change anything), so the file is kept as it is for
// someone to repair.
std::string LoadHive(Hive& hive)
{
    // No process writes the hive while its lock is held, so any temporary
    // file is one that an interrupted write left behind.
    const bool locked = hive.lock.Take();
    if (locked) {
        RemoveTemporaryFiles(hive.file);
    }
    const Refreshed refreshed = RefreshHive(hive);
    if (locked) {
        hive.lock.Give();
    }
    if (!refreshed.readable) {
        hive.unusable = true;   // there is no earlier state to fall back on
    }
    return refreshed.problem;
}

Hive& RootHive(LockedRegistry& registry, HKEY root)
{
    return registry.hives()[root == HKEY_LOCAL_MACHINE ? 0 : 1];
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
        if (folderError) {
            hive.unusable = true;
        }
        std::string error = folderError ? hive.file.string() + ": cannot create the folder: " + folderError.message()
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

HeldHive::HeldHive(HKEY root) : root_(root)
{
    LockedRegistry registry;
    held_ = RootHive(registry, root_).lock.Take();
}

HeldHive::~HeldHive()
{
    LockedRegistry registry;
    if (held_) {
        RootHive(registry, root_).lock.Give();
    }
}

}  // namespace platform::registry

namespace platform {

RegistryBatch::RegistryBatch(HKEY root) : root_(root)
{
    registry::LockedRegistry registry;
    registry::Hive& hive = registry::RootHive(registry, root_);
    if (hive.lock.Take()) {
        ++hive.batches;
        mounted_ = hive.mounted;
        open_ = true;
    }
}

RegistryBatch::~RegistryBatch() { Finish(); }

LONG RegistryBatch::Finish()
{
    registry::LockedRegistry registry;
    registry::Hive& hive = registry::RootHive(registry, root_);
    if (!open_ || hive.mounted != mounted_) {
        open_ = false;
        return result_;
    }
    open_ = false;
    if (--hive.batches == 0 && hive.unwritten) {
        result_ = registry::LockedRegistry::WriteBatch(hive);
    }
    hive.lock.Give();
    return result_;
}

}  // namespace platform
