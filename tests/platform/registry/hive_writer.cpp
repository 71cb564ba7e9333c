// A process of the device for the tests that run several at once: it waits at
// a start barrier, then changes the registry as a program of the device does.
//
//   hive_writer write REGISTRY BARRIER WRITER VALUES
//     mounts the hives in REGISTRY, opens HKCU\Shared, waits, then sets VALUES
//     values "wWRITER-J" there and "vJ" under HKCU\Writers\WRITER, and deletes
//     the key HKCU\Scratch\WRITER that it made before it waited.
//   hive_writer boot ROOT BARRIER HOST
//     waits (BARRIER "-": starts at once), boots the device at ROOT (HOST "-":
//     without host serial ports, else with HOST/dev and HOST/sys), writes the
//     driver keys of the virtual ports 0 to 9 as the program's start does,
//     and shuts the device down. Each boot problem goes to stdout as
//     "problem: LINE".
//
// Exit code 0 when every registry call succeeded; what failed goes to stderr.
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/boot.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "registry/hives.h"
#include "ready_barrier.h"
#include "setup/device_setup.h"

namespace {

using tavrel::testing::WaitAtReadyBarrier;

bool Succeeded(LONG result, const std::string& what)
{
    if (result != ERROR_SUCCESS) {
        std::fprintf(stderr, "hive_writer: %s failed with %ld\n", what.c_str(), static_cast<long>(result));
    }
    return result == ERROR_SUCCESS;
}

bool CreateKey(const std::u16string& path, HKEY& key)
{
    return Succeeded(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr),
                     "creating " + platform::ToUtf8(path));
}

bool SetNumber(HKEY key, const std::u16string& name, DWORD number)
{
    return Succeeded(RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                    sizeof number),
                     "setting " + platform::ToUtf8(name));
}

// Sets one value in the shared key (through the handle opened before the
// start) and one in this writer's own key (opened anew each time).
bool WriteOne(HKEY shared, const std::u16string& writer, unsigned value)
{
    const std::u16string number = platform::ToUtf16(std::to_string(value));
    HKEY own = nullptr;
    const bool written = SetNumber(shared, u"w" + writer + u"-" + number, value) &&
                         CreateKey(u"Writers\\" + writer, own) && SetNumber(own, u"v" + number, value);
    RegCloseKey(own);
    return written;
}

int Write(const std::filesystem::path& registry, const std::filesystem::path& barrier, const std::string& writerText,
          unsigned values)
{
    const std::u16string writer = platform::ToUtf16(writerText);
    HKEY shared = nullptr;
    HKEY scratch = nullptr;
    if (!platform::registry::MountHives(registry).ok || !CreateKey(u"Shared", shared) ||
        !CreateKey(u"Scratch\\" + writer, scratch)) {
        return 1;
    }
    RegCloseKey(scratch);
    if (!WaitAtReadyBarrier(barrier)) {
        return 3;
    }
    for (unsigned value = 0; value < values; ++value) {
        if (!WriteOne(shared, writer, value)) {
            return 1;
        }
    }
    const std::u16string scratchPath = u"Scratch\\" + writer;
    return Succeeded(RegDeleteKeyW(HKEY_CURRENT_USER, scratchPath.c_str()), "deleting the scratch key") ? 0 : 1;
}

int Boot(const std::filesystem::path& root, const std::string& barrier, const std::string& host)
{
    if (barrier != "-" && !WaitAtReadyBarrier(barrier)) {
        return 3;
    }
    platform::DeviceSettings settings;
    settings.deviceRoot = root;
    settings.portFolder = root / "ports";
    settings.syncHostSerialPorts = host != "-";
    settings.hostDevRoot = std::filesystem::path(host) / "dev";
    settings.hostSysRoot = std::filesystem::path(host) / "sys";
    for (const std::string& problem : platform::BootDevice(settings).problems) {
        std::printf("problem: %s\n", problem.c_str());
    }
    bool written = true;
    for (int number = 0; number <= 9; ++number) {
        if (!tavrel::setup::WriteVirtualPortKey(number)) {
            std::fprintf(stderr, "hive_writer: cannot write the key of virtual port %d\n", number);
            written = false;
        }
    }
    platform::ShutdownDevice();
    return written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "write" && argc == 6) {
        return Write(argv[2], argv[3], argv[4], static_cast<unsigned>(std::stoul(argv[5])));
    }
    if (mode == "boot" && argc == 5) {
        return Boot(argv[2], argv[3], argv[4]);
    }
    std::fputs("usage: hive_writer write REGISTRY BARRIER WRITER VALUES | boot ROOT BARRIER HOST\n", stderr);
    return 2;
}
