#include "port_folders.h"

#include <cstring>

#include "compat_contract.h"

namespace tavrel::compat {
namespace {

char storage[8192];
const char* folders[kMaxPortFolders];
int folderCount = 0;

}  // namespace

void LoadPortFolders(const char* text)
{
    folderCount = 0;
    if (text == nullptr) {
        return;
    }
    std::size_t used = 0;
    while (*text != '\0' && folderCount < kMaxPortFolders) {
        const char* end = std::strchr(text, kFolderSeparator);
        const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - text) : std::strlen(text);
        if (length > 0 && used + length + 1 <= sizeof storage) {
            std::memcpy(storage + used, text, length);
            storage[used + length] = '\0';
            folders[folderCount++] = storage + used;
            used += length + 1;
        }
        text += end != nullptr ? length + 1 : length;
    }
}

int PortFolderCount()
{
    return folderCount;
}

const char* PortFolder(int index)
{
    return index >= 0 && index < folderCount ? folders[index] : nullptr;
}

}  // namespace tavrel::compat
