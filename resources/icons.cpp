// Registers the program's icons in its module before WinMain runs, each .ico
// file as an icon group of its id with its images, as a resource compiler
// links them.
#include "platform/kernel.h"
#include "platform/resources.h"
#include "resources/embedded_icons.h"
#include "resources/resource_ids.h"

namespace {

void RegisterIcon(WORD id, std::span<const BYTE> icoFile, const WCHAR* failure)
{
    if (!platform::AddIconFileResources(id, icoFile)) {
        OutputDebugStringW(failure);
    }
}

struct IconRegistration {
    IconRegistration()
    {
        RegisterIcon(IDI_PROGRAM, ProgramIconFile(), u"Icon 101 is not a valid .ico file\n");
        RegisterIcon(IDI_TRAY, TrayIconFile(), u"Icon 103 is not a valid .ico file\n");
    }
} const iconRegistration;

}  // namespace
