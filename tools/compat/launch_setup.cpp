#include "launch_setup.h"

#include <algorithm>

#include "compat_contract.h"

namespace tavrel::compat {

std::string PreloadList(const std::filesystem::path& library, const char* existing)
{
    std::string list = library.string();
    if (existing != nullptr && *existing != '\0') {
        list.append(":").append(existing);
    }
    return list;
}

bool PreloadablePath(const std::filesystem::path& library)
{
    return library.string().find_first_of(" :") == std::string::npos;
}

std::vector<std::filesystem::path> PortFolders(const std::filesystem::path& ownFolder,
                                               const std::filesystem::path& systemFolder)
{
    std::error_code error;
    std::filesystem::path own = std::filesystem::absolute(ownFolder, error);
    own = (error ? ownFolder : own).lexically_normal();
    if (!own.has_filename()) {
        own = own.parent_path();   // "ports/" is "ports"
    }
    std::vector<std::filesystem::path> folders{own};
    // A folder that cannot be read (or is missing) adds nothing.
    for (std::filesystem::directory_iterator entry(systemFolder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code typeError;
        const bool realFolder = entry->symlink_status(typeError).type() == std::filesystem::file_type::directory;
        if (realFolder && std::find(folders.begin(), folders.end(), entry->path()) == folders.end()) {
            folders.push_back(entry->path());
        }
    }
    return folders;
}

JoinedFolders JoinFolders(const std::vector<std::filesystem::path>& folders)
{
    JoinedFolders joined;
    for (const std::filesystem::path& folder : folders) {
        if (folder.string().find(kFolderSeparator) != std::string::npos) {
            joined.leftOut.push_back(folder);
            continue;
        }
        if (!joined.text.empty()) {
            joined.text += kFolderSeparator;
        }
        joined.text += folder.string();
    }
    return joined;
}

}  // namespace tavrel::compat
