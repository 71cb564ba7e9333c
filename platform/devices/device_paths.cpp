#include "devices/device_paths.h"

#include "kernel/guarded_value.h"

namespace platform::devices {
namespace {

GuardedValue<std::filesystem::path>& TheNodeFolder()
{
    static GuardedValue<std::filesystem::path> folder;
    return folder;
}

}  // namespace

void SetNodeFolder(const std::filesystem::path& nodeFolder)
{
    TheNodeFolder().Set(nodeFolder);
}

void ClearNodeFolder()
{
    SetNodeFolder({});
}

std::filesystem::path NodeFolder()
{
    return TheNodeFolder().Get();
}

}  // namespace platform::devices
