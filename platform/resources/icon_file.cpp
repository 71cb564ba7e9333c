// .ico files turned into icon resources, as a resource compiler stores them:
// each image an RT_ICON, the directory an RT_GROUP_ICON naming them by id.
#include <vector>

#include "platform/resources.h"
#include "resources/icon_formats.h"
#include "resources/resource_table.h"

namespace platform {
namespace {

using resources::ICONDIR;
using resources::ICONDIRENTRY;
using resources::ReadAt;

// The file's directory entries and images, or nothing if any image lies
// outside the file.
bool ReadIconFile(std::span<const BYTE> file, std::vector<ICONDIRENTRY>& entries,
                  std::vector<std::span<const BYTE>>& images)
{
    const auto directory = resources::IconDirectoryOf(file);
    if (!directory) {
        return false;
    }
    for (std::size_t i = 0; i < directory->idCount; ++i) {
        const auto entry = ReadAt<ICONDIRENTRY>(file, sizeof(ICONDIR) + i * sizeof(ICONDIRENTRY));
        if (!entry || entry->dwImageOffset > file.size() || entry->dwBytesInRes > file.size() - entry->dwImageOffset) {
            return false;
        }
        entries.push_back(*entry);
        images.push_back(file.subspan(entry->dwImageOffset, entry->dwBytesInRes));
    }
    return true;
}

template <typename T>
void Append(std::vector<BYTE>& bytes, const T& record)
{
    const auto* first = reinterpret_cast<const BYTE*>(&record);
    bytes.insert(bytes.end(), first, first + sizeof(T));
}

std::vector<BYTE> GroupDirectory(const std::vector<ICONDIRENTRY>& entries, WORD firstImageId)
{
    std::vector<BYTE> group;
    Append(group, ICONDIR{0, 1, static_cast<WORD>(entries.size())});
    WORD id = firstImageId;
    for (const ICONDIRENTRY& entry : entries) {
        Append(group, resources::GRPICONDIRENTRY{entry.bWidth, entry.bHeight, entry.bColorCount, 0, entry.wPlanes,
                                                 entry.wBitCount, entry.dwBytesInRes, id++});
    }
    return group;
}

}  // namespace

bool AddIconFileResources(WORD groupId, std::span<const BYTE> icoFile)
{
    std::vector<ICONDIRENTRY> entries;
    std::vector<std::span<const BYTE>> images;
    if (groupId == 0 || !ReadIconFile(icoFile, entries, images)) {
        return false;
    }
    const auto firstImageId = resources::ProgramResources().AddNumbered(*resources::KeyOf(RT_ICON), images);
    return firstImageId && AddModuleResource(RT_GROUP_ICON, groupId, GroupDirectory(entries, *firstImageId));
}

}  // namespace platform
