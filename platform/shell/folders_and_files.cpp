// The shell's special folders and the file calls of the device's file system.
// Paths are device paths ("\Windows\StartUp\Tavrel.lnk"), found on the host
// without regard to letter case.
//
// Errors shared by every call: a null pointer is ERROR_INVALID_PARAMETER; a
// path not terminated within MAX_PATH characters is ERROR_FILENAME_EXCED_RANGE;
// no device up, a path that would leave the device's file system (".."), or a
// missing folder on the way is ERROR_PATH_NOT_FOUND.
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "kernel/kernel_object.h"
#include "platform/fail_with.h"
#include "platform/kernel.h"
#include "platform/shell.h"
#include "platform/strings.h"
#include "shell/device_file_paths.h"
#include "shell/file_search.h"
#include "shell/host_files.h"

namespace platform::shell {
namespace {

struct PathArgument {
    DWORD error = ERROR_SUCCESS;
    std::u16string_view path;
};

// A device path is never longer than MAX_PATH with its terminator, so no more
// of the caller's text than that is read.
PathArgument ReadPathArgument(LPCWSTR text)
{
    if (text == nullptr) {
        return {ERROR_INVALID_PARAMETER, {}};
    }
    std::size_t length = 0;
    while (length < MAX_PATH && text[length] != u'\0') {
        ++length;
    }
    if (length == MAX_PATH) {
        return {ERROR_FILENAME_EXCED_RANGE, {}};
    }
    return {ERROR_SUCCESS, std::u16string_view(text, length)};
}

// CSIDL values of the device that shell.h does not name.
constexpr int kCsidlPersonal = 0x0005;
constexpr int kCsidlFavorites = 0x0006;
constexpr int kCsidlRecent = 0x0008;
constexpr int kCsidlDesktopDirectory = 0x0010;
constexpr int kCsidlFonts = 0x0014;
constexpr int kCsidlProgramFiles = 0x0026;

struct SpecialFolder {
    int csidl;
    const WCHAR* path;
};

// Where a Pocket PC keeps its special folders. Virtual folders (the desktop
// itself, My Computer, Control Panel) have no path and are refused.
constexpr SpecialFolder kSpecialFolders[] = {
    {CSIDL_PROGRAMS, u"\\Windows\\Start Menu\\Programs"},
    {kCsidlPersonal, u"\\My Documents"},
    {kCsidlFavorites, u"\\Windows\\Favorites"},
    {CSIDL_STARTUP, u"\\Windows\\StartUp"},
    {kCsidlRecent, u"\\Windows\\Recent"},
    {kCsidlDesktopDirectory, u"\\Windows\\Desktop"},
    {kCsidlFonts, u"\\Windows\\Fonts"},
    {kCsidlProgramFiles, u"\\Program Files"},
};

const WCHAR* SpecialFolderPath(int csidl)
{
    for (const SpecialFolder& folder : kSpecialFolders) {
        if (folder.csidl == csidl) {
            return folder.path;
        }
    }
    return nullptr;
}

struct ExistingFile {
    DWORD error = ERROR_SUCCESS;
    std::filesystem::path path;
    HostEntry entry;
};

// The file that a device path names: ERROR_FILE_NOT_FOUND when nothing has
// its name, ERROR_ACCESS_DENIED when it is a folder (a file operation never
// acts on a folder).
ExistingFile FindExistingFile(std::u16string_view devicePath)
{
    const DevicePlace place = LocateOnDevice(devicePath);
    if (place.error != ERROR_SUCCESS) {
        return {place.error, {}, {}};
    }
    const std::optional<HostEntry> entry = place.entry.empty() ? std::nullopt : ReadHostEntry(place.entry);
    if (!entry.has_value()) {
        return {ERROR_FILE_NOT_FOUND, {}, {}};
    }
    if (entry->isDirectory) {
        return {ERROR_ACCESS_DENIED, {}, {}};
    }
    return {ERROR_SUCCESS, place.entry, *entry};
}

struct CopyTarget {
    DWORD error = ERROR_SUCCESS;
    std::filesystem::path path;
};

// Where a copy goes. An existing file of that name in any letter case is the
// one replaced, so that the folder never holds two names that the device
// cannot tell apart; a read-only file or a folder is not replaced.
CopyTarget PlaceCopy(std::u16string_view devicePath, BOOL failIfExists)
{
    const DevicePlace place = LocateOnDevice(devicePath);
    if (place.error != ERROR_SUCCESS) {
        return {place.error, {}};
    }
    if (place.entry.empty()) {
        return {ERROR_SUCCESS, place.folder / ToUtf8(place.name)};
    }
    if (failIfExists) {
        return {ERROR_FILE_EXISTS, {}};
    }
    const std::optional<HostEntry> existing = ReadHostEntry(place.entry);
    if (existing.has_value() && (existing->isDirectory || existing->readOnly)) {
        return {ERROR_ACCESS_DENIED, {}};
    }
    return {ERROR_SUCCESS, place.entry};
}

}  // namespace
}  // namespace platform::shell

using namespace platform::shell;

// SHGetSpecialFolderPath: the folder's device path into a MAX_PATH buffer.
// Like the device, it fails with an empty path when the folder does not exist
// and is not to be created. An unknown CSIDL is ERROR_INVALID_PARAMETER.
BOOL SHGetSpecialFolderPath(HWND, LPWSTR path, int folder, BOOL create)
{
    if (path == nullptr) {
        return platform::FailWith(ERROR_INVALID_PARAMETER, FALSE);
    }
    path[0] = u'\0';
    const WCHAR* devicePath = SpecialFolderPath(folder);
    if (devicePath == nullptr) {
        return platform::FailWith(ERROR_INVALID_PARAMETER, FALSE);
    }
    const DWORD error = WalkDeviceFolders(devicePath, create ? MissingFolders::Create : MissingFolders::Fail);
    if (error != ERROR_SUCCESS) {
        return platform::FailWith(error, FALSE);
    }
    StringCchCopyW(path, MAX_PATH, devicePath);
    return TRUE;
}

// FindFirstFileW: the first entry of the folder that matches the last element
// (wildcards * and ?, any letter case). Nothing matches: ERROR_FILE_NOT_FOUND.
// The search handle is a kernel handle; FindClose closes it, and so does
// CloseHandle, which on this platform closes any kernel handle.
HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW data)
{
    const PathArgument argument = ReadPathArgument(fileName);
    if (argument.error != ERROR_SUCCESS) {
        return platform::FailWith(argument.error, INVALID_HANDLE_VALUE);
    }
    if (data == nullptr) {
        return platform::FailWith(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    const DevicePlace place = LocateFolderOf(argument.path);
    if (place.error != ERROR_SUCCESS) {
        return platform::FailWith(place.error, INVALID_HANDLE_VALUE);
    }
    auto search = std::make_shared<FileSearch>(FindMatches(place.folder, place.name));
    WIN32_FIND_DATAW first{};
    if (!search->Next(first)) {
        return platform::FailWith(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    HANDLE handle = platform::kernel::InsertHandle(std::move(search));
    if (handle == nullptr) {
        return platform::FailWith(ERROR_OUTOFMEMORY, INVALID_HANDLE_VALUE);
    }
    *data = first;
    return handle;
}

// FindNextFileW: ERROR_NO_MORE_FILES after the last entry, data untouched.
BOOL FindNextFileW(HANDLE search, LPWIN32_FIND_DATAW data)
{
    const auto found = platform::kernel::LookupHandleAs<FileSearch>(search, platform::kernel::ObjectType::FileSearch);
    if (found == nullptr) {
        return platform::FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    if (data == nullptr) {
        return platform::FailWith(ERROR_INVALID_PARAMETER, FALSE);
    }
    return found->Next(*data) ? TRUE : platform::FailWith(ERROR_NO_MORE_FILES, FALSE);
}

// FindClose: only a search handle; any other handle is ERROR_INVALID_HANDLE
// and stays open.
BOOL FindClose(HANDLE search)
{
    if (platform::kernel::LookupHandleAs<FileSearch>(search, platform::kernel::ObjectType::FileSearch) == nullptr) {
        return platform::FailWith(ERROR_INVALID_HANDLE, FALSE);
    }
    return CloseHandle(search);
}

// CopyFileW: the whole file or nothing, the source left as it was. Missing
// source: ERROR_FILE_NOT_FOUND; missing target folder: ERROR_PATH_NOT_FOUND;
// existing target with failIfExists: ERROR_FILE_EXISTS; a folder or a
// read-only file in the target's place: ERROR_ACCESS_DENIED.
BOOL CopyFileW(LPCWSTR existingFile, LPCWSTR newFile, BOOL failIfExists)
{
    const PathArgument from = ReadPathArgument(existingFile);
    const PathArgument to = ReadPathArgument(newFile);
    if (from.error != ERROR_SUCCESS || to.error != ERROR_SUCCESS) {
        return platform::FailWith(from.error != ERROR_SUCCESS ? from.error : to.error, FALSE);
    }
    const ExistingFile source = FindExistingFile(from.path);
    if (source.error != ERROR_SUCCESS) {
        return platform::FailWith(source.error, FALSE);
    }
    const CopyTarget target = PlaceCopy(to.path, failIfExists);
    if (target.error != ERROR_SUCCESS) {
        return platform::FailWith(target.error, FALSE);
    }
    const DWORD error =
        CopyWholeFile(source.path, target.path, failIfExists ? ReplaceTarget::No : ReplaceTarget::Yes);
    return error == ERROR_SUCCESS ? TRUE : platform::FailWith(error, FALSE);
}

// DeleteFileW: missing: ERROR_FILE_NOT_FOUND; a folder or a read-only file:
// ERROR_ACCESS_DENIED.
BOOL DeleteFileW(LPCWSTR fileName)
{
    const PathArgument argument = ReadPathArgument(fileName);
    if (argument.error != ERROR_SUCCESS) {
        return platform::FailWith(argument.error, FALSE);
    }
    const ExistingFile file = FindExistingFile(argument.path);
    if (file.error != ERROR_SUCCESS) {
        return platform::FailWith(file.error, FALSE);
    }
    if (file.entry.readOnly) {
        return platform::FailWith(ERROR_ACCESS_DENIED, FALSE);
    }
    const DWORD error = RemoveHostFile(file.path);
    return error == ERROR_SUCCESS ? TRUE : platform::FailWith(error, FALSE);
}
