#include "devices/device_paths.h"

#include "kernel/guarded_value.h"

namespace platform::devices {
namespace {

GuardedValue<std::filesystem::path>& TheNodeFolder()
{
    static GuardedValue<std::filesystem::path> folder;
    return folder;
}

GuardedValue<std::string>& ThePortGroup()
{
    static GuardedValue<std::string> group;
    return group;
}

}  // namespace

void SetNodeFolder(const std::filesystem::path& nodeFolder)
{
    TheNodeFolder().Set(nodeFolder);
}

void SetPortGroup(const std::string& group)
{
    ThePortGroup().Set(group);
}

void ClearNodeFolder()
{
    SetNodeFolder({});
    SetPortGroup({});
}

std::filesystem::path NodeFolder()
{
    return TheNodeFolder().Get();
}

std::string PortGroup()
{
    return ThePortGroup().Get();
}

}  // namespace platform::devices
