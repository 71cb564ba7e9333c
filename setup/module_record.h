// The installer's record of the driver module that it put into the device:
// the module's size and a digest of its bytes, in a file beside it
// ("quorvel.dll.installed"). Uninstall takes a module away only while it
// still matches the record, so a module that a person or another installer
// put there instead (or changed since) is never removed.
#pragma once

#include <filesystem>
#include <string>

namespace tavrel::setup {

std::filesystem::path ModuleRecordFile(const std::filesystem::path& module);

// Records the module now at `module`; what went wrong, or an empty text.
std::string RecordInstalledModule(const std::filesystem::path& module);

enum class ModuleState {
    Missing,        // no module there
    Installed,      // the module that the record describes
    NotInstalled,   // a record of other bytes, or none and other bytes than `shipped`
    Unreadable,     // the module or its record cannot be read now
};
struct ModuleCheck {
    ModuleState state;
    std::string problem;   // Unreadable: which file and why
};
// An install made before the record existed has none; its module counts as
// installed while it holds the same bytes as `shipped`, the module that this
// installer would put there.
ModuleCheck CheckInstalledModule(const std::filesystem::path& module, const std::filesystem::path& shipped);

// Whether the module differs from what its record says was installed: a
// person or another installer changed it since. False without a record (an
// install older than the record) and when either cannot be read.
bool ChangedSinceInstalled(const std::filesystem::path& module);
// Whether two files hold the same bytes; false when either cannot be read.
bool SameBytes(const std::filesystem::path& left, const std::filesystem::path& right);

}  // namespace tavrel::setup
