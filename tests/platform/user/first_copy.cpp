// A first copy of a program, for the two-process test: it boots the device
// whose root it is given, holds the named mutex, and runs a dialog whose
// caption holds "Tavrel" until a second copy posts it the restore message.
//
//   first_copy DEVICE_ROOT MARKER_FILE
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/boot.h"
#include "platform/kernel.h"
#include "platform/resources.h"
#include "platform/user.h"

namespace {

std::string marker;

void Mark(const char* what)
{
    std::ofstream(marker, std::ios::app) << what << "\n";
}

BOOL FirstCopyProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        Mark("ready");
        return TRUE;
    }
    if (message == 3025 && wParam == 5000 && lParam == WM_LBUTTONDOWN) {
        Mark("restore");
        EndDialog(dialog, 3);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        return 100;
    }
    marker = argv[2];
    platform::DeviceSettings settings;
    settings.deviceRoot = argv[1];
    settings.syncHostSerialPorts = false;
    platform::BootDevice(settings);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"{AF62135C-D1BA-4076-94CB-C05498E0E225}");
    if (mutex == nullptr || GetLastError() != 0) {
        return 101;
    }
    platform::DialogTemplateWriter writer(WS_POPUP | WS_CAPTION, 0, 0, 0, 100, 100, u"Tavrel V1.20");
    const std::vector<BYTE> bytes = writer.Bytes();
    const INT_PTR result = DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), nullptr,
                                                   FirstCopyProcedure, 0);
    CloseHandle(mutex);
    platform::ShutdownDevice();
    return static_cast<int>(result);
}
