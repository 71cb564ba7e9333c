// The steps of `tavrel-install --uninstall`. Each takes away one thing that
// install made, and only when it is what install made; says on stdout what
// it leaves in place on purpose; says on stderr ("tavrel-install: ...") what
// it could not remove and why; and returns false when something that it
// should have removed is still there. A failed step does not stop the others.
#pragma once

#include <filesystem>

namespace tavrel::tools {

// The login session's autostart entry, when it was made for `deviceRoot`.
bool UninstallEntry(const std::filesystem::path& deviceRoot);

// On the booted device: the driver module that install recorded (or, from an
// install that kept no record, one with the bytes of `shippedModule`), then
// its record and the install folder when it is left empty; the Programs
// shortcut; "InstallPath" and the keys that it leaves empty.
bool UninstallFromDevice(const std::filesystem::path& shippedModule);

}  // namespace tavrel::tools
