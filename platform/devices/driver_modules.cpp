// Driver modules: those built into the process (the device's ROM), and module
// files loaded from the device's file system and from nowhere else, wherever
// links inside it lead. A loaded module stays loaded for the life of the
// process, as a driver's code may still be referenced by a thread that is
// ending when its last instance goes.
#include "devices/driver_modules.h"

#include <algorithm>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <map>
#include <mutex>

#include "platform/boot.h"
#include "platform/driver_modules.h"
#include "platform/errors.h"
#include "platform/strings.h"

namespace platform {
namespace {

struct ModuleTables {
    std::mutex lock;
    std::map<std::u16string, const STREAM_DRIVER_ENTRIES*> builtIn;   // by folded file name
    std::map<std::string, void*> loaded;                              // by host path
};

ModuleTables& Tables()
{
    static ModuleTables tables;
    return tables;
}

std::u16string Folded(std::u16string_view text)
{
    std::u16string folded(text);
    for (char16_t& c : folded) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return folded;
}

// The file name a built-in module would have: a bare name, or one in \Windows.
std::u16string BuiltInName(std::u16string_view dll)
{
    const std::u16string folded = Folded(dll);
    if (folded.find(u'\\') == std::u16string::npos) {
        return folded;
    }
    constexpr std::u16string_view windows = u"\\windows\\";
    if (folded.starts_with(windows) && folded.find(u'\\', windows.size()) == std::u16string::npos) {
        return folded.substr(windows.size());
    }
    return {};
}

const STREAM_DRIVER_ENTRIES* FindBuiltIn(std::u16string_view dll)
{
    const std::u16string name = BuiltInName(dll);
    ModuleTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    const auto found = tables.builtIn.find(name);
    return found == tables.builtIn.end() ? nullptr : found->second;
}

// Whether `path` is `folder` or lies below it; both are real paths.
bool LiesIn(const std::filesystem::path& path, const std::filesystem::path& folder)
{
    const auto [inFolder, inPath] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return inFolder == folder.end();
}

// The real path of the module file that a device path names, or empty. A
// module is a regular file of the device: a link inside the device's file
// system may lead to one elsewhere in it (the device's own data, however it is
// spelt), but never to a file outside, which would load host code as a driver.
std::filesystem::path ModuleFileInDevice(std::u16string_view devicePath)
{
    std::error_code error;
    const std::filesystem::path fileSystem = std::filesystem::canonical(HostPathOf(u"\\"), error);
    const std::filesystem::path hostPath = HostPathOf(devicePath);
    if (error || hostPath.empty()) {
        return {};
    }
    std::filesystem::path module = std::filesystem::canonical(hostPath, error);
    if (error || !LiesIn(module, fileSystem) || !std::filesystem::is_regular_file(module, error)) {
        return {};
    }
    return module;
}

// dlopen()s the module file once; null when it cannot be loaded.
void* LoadModuleFile(const std::filesystem::path& hostPath)
{
    ModuleTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    const auto found = tables.loaded.find(hostPath.string());
    if (found != tables.loaded.end()) {
        return found->second;
    }
    void* module = ::dlopen(hostPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "platform: cannot load driver module %s: %s\n", hostPath.c_str(), ::dlerror());
        return nullptr;
    }
    tables.loaded.emplace(hostPath.string(), module);
    return module;
}

template <typename Entry>
Entry Symbol(void* module, const std::string& prefix, const char* entry)
{
    void* address = ::dlsym(module, (prefix + "_" + entry).c_str());
    return reinterpret_cast<Entry>(address);
}

DWORD EntriesFromFile(void* module, const std::u16string& prefix, STREAM_DRIVER_ENTRIES& entries)
{
    const std::string name = ToUtf8(prefix);
    entries.Init = Symbol<PFN_DRIVER_INIT>(module, name, "Init");
    entries.Deinit = Symbol<PFN_DRIVER_DEINIT>(module, name, "Deinit");
    entries.Open = Symbol<PFN_DRIVER_OPEN>(module, name, "Open");
    entries.Close = Symbol<PFN_DRIVER_CLOSE>(module, name, "Close");
    entries.PreClose = Symbol<PFN_DRIVER_PRECLOSE>(module, name, "PreClose");
    entries.Read = Symbol<PFN_DRIVER_READ>(module, name, "Read");
    entries.Write = Symbol<PFN_DRIVER_WRITE>(module, name, "Write");
    entries.IOControl = Symbol<PFN_DRIVER_IOCONTROL>(module, name, "IOControl");
    const bool complete = entries.Init && entries.Deinit && entries.Open && entries.Close && entries.Read &&
                          entries.Write && entries.IOControl;
    return complete ? ERROR_SUCCESS : ERROR_PROC_NOT_FOUND;
}

}  // namespace

void RegisterBuiltInModule(const std::u16string& fileName, const STREAM_DRIVER_ENTRIES* entries)
{
    ModuleTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    tables.builtIn[Folded(fileName)] = entries;
}

void UnregisterBuiltInModule(const std::u16string& fileName)
{
    ModuleTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    tables.builtIn.erase(Folded(fileName));
}

namespace devices {

DWORD ResolveDriverModule(const std::u16string& dll, const std::u16string& prefix, STREAM_DRIVER_ENTRIES& entries)
{
    if (const STREAM_DRIVER_ENTRIES* builtIn = FindBuiltIn(dll)) {
        entries = *builtIn;
        return ERROR_SUCCESS;
    }
    // A bare module name is looked for in \Windows, as the device's loader does.
    const std::u16string devicePath = dll.find(u'\\') == std::u16string::npos ? u"\\Windows\\" + dll : dll;
    const std::filesystem::path hostPath = ModuleFileInDevice(devicePath);
    if (hostPath.empty()) {
        return ERROR_MOD_NOT_FOUND;
    }
    void* module = LoadModuleFile(hostPath);
    return module == nullptr ? ERROR_MOD_NOT_FOUND : EntriesFromFile(module, prefix, entries);
}

}  // namespace devices
}  // namespace platform
