// What a person does when the host refuses this process a serial device for
// lack of permission: serial devices give access to a group (dialout on
// Debian), and a user joins it once. Said on stderr, whatever debug output
// is asked for, since nothing else tells the person why the port stays shut.
#pragma once

#include <filesystem>
#include <string>

namespace platform::serial {

// The advice for `device`, which open() refused with `error`; empty unless
// the error is EACCES or EPERM. Names the device's own group (by the file's
// group id), or says that only its owner is let in when its group is not.
std::string PermissionAdvice(const std::filesystem::path& device, int error);

// Writes the advice on stderr as "<program>: <advice>", once for each device
// in this process (an input retried every second is not said every second).
void SayPermissionAdvice(const std::filesystem::path& device, int error);

}  // namespace platform::serial
