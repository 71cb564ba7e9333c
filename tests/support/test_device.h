// A whole device for end-to-end tests: a fresh device root, booted, with the
// virtual port driver module installed in its file system and its driver keys
// written, and real pseudo-terminals mapped as built-in ports.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "platform/types.h"
#include "testkit/temp_folder.h"

namespace tavrel::testing {

class TestDevice {
public:
    // Boots a fresh device; the host's serial ports are not looked at.
    TestDevice();
    ~TestDevice();
    TestDevice(const TestDevice&) = delete;
    TestDevice& operator=(const TestDevice&) = delete;

    const std::filesystem::path& root() const { return root_.path(); }
    std::filesystem::path portFolder() const { return root() / "ports"; }
    std::filesystem::path PortLink(int number) const;

    // Copies the driver module to "\Program Files\Tavrel\quorvel.dll" and
    // writes the key "Drivers\quorvel<n>" that activates it for number n.
    void InstallVirtualPortDriver(const std::filesystem::path& module);
    void WriteVirtualPortKey(int number);
    // Maps a host tty as the built-in port COM<number>, as a person would in
    // the registry; it is activated at the next boot.
    void MapBuiltInPort(const std::u16string& keyName, int number, const std::string& hostDevice);
    // Maps a host tty as COM<number> and activates it now with the built-in
    // serial driver, as the boot would; the activation handle, or null.
    HANDLE ActivateBuiltInPort(const std::u16string& keyName, int number, const std::string& hostDevice);
    void Reboot();
    // Boots again, from now on keeping the built-in ports in step with a
    // made-up host's serial devices (its dev and sys folders) at boot and
    // while the device runs, as the program's device does with the host's.
    void FollowHost(const std::filesystem::path& devRoot, const std::filesystem::path& sysRoot);

private:
    void Boot();

    TempFolder root_;
    std::optional<std::pair<std::filesystem::path, std::filesystem::path>> followedHost_;   // dev, sys
};

}  // namespace tavrel::testing
