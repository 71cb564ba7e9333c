// The built-in ports of a booted device as a person reads and edits their
// keys under HKEY_LOCAL_MACHINE\Drivers\BuiltIn: which port holds which COM
// number, and ports moved off numbers that are wanted for something else.
// The device's boot keeps the number that a key holds, so a move lasts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace tavrel::setup {

struct BuiltInPortKey {
    std::u16string keyName;
    std::optional<DWORD> index;   // its COM number
    std::string hostDevice;       // the host path it names; empty when none
};

// Every key below Drivers\BuiltIn, in the order of their creation.
std::vector<BuiltInPortKey> BuiltInPortKeys();

// The host path of the built-in port that holds COM number `number`; empty for none.
std::string HostDeviceOfPort(DWORD number);

// Gives each built-in port that holds one of `numbers`, other than the one on
// `keptHostDevice`, a number above every number in use and above 9, as a
// person would edit its "Index". A device numbers its ports 0 to 9, so such
// a port is no longer made at boot while its key stays for the person to
// move back. False when a key cannot be written.
bool MoveBuiltInPortsOff(const std::vector<int>& numbers, const std::string& keptHostDevice);

}  // namespace tavrel::setup
