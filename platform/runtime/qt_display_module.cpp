// The module stays loaded for the rest of the process once it is: Qt's
// libraries cannot be unloaded safely, and the session's code lives there.
// PLATFORM_QT_MODULE_BUILT is where this build put the module; empty when the
// build has no Qt.
#include "runtime/qt_display_module.h"

#include <dlfcn.h>

#include <filesystem>

#include "platform/companion_files.h"

namespace platform {
namespace {

constexpr std::string_view kBuiltModule = PLATFORM_QT_MODULE_BUILT;

// The module's entry, or null with the reason in `whyNot`.
qt::OpenSessionEntry LoadEntry(std::string& whyNot)
{
    const std::filesystem::path folder = RunningProgramFolder();
    const std::filesystem::path module = FindCompanion(folder, qt::kModuleFile, kBuiltModule);
    if (module.empty()) {
        whyNot = "the qt display's module " + CompanionNotFound(folder, qt::kModuleFile);
        return nullptr;
    }
    void* loaded = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (loaded == nullptr) {
        whyNot = "the qt display's module could not be loaded (" + std::string(::dlerror()) + ")";
        return nullptr;
    }
    void* entry = ::dlsym(loaded, qt::kOpenSessionEntryName);
    if (entry == nullptr) {
        whyNot = "the qt display's module " + module.string() + " has no entry " + qt::kOpenSessionEntryName;
        return nullptr;
    }
    return reinterpret_cast<qt::OpenSessionEntry>(entry);
}

}  // namespace

std::unique_ptr<qt::QtSession> OpenQtSession(const qt::SessionOptions& options, std::string& whyNot)
{
    if (kBuiltModule.empty()) {
        whyNot = "this build has no qt display (Qt 6 Widgets was not found when it was configured)";
        return nullptr;
    }
    const qt::OpenSessionEntry open = LoadEntry(whyNot);
    std::unique_ptr<qt::QtSession> session;
    if (open != nullptr) {
        open(options, session, whyNot);
    }
    return session;
}

}  // namespace platform
