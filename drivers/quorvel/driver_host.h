// What an instance keeps of the DEVICE_HOST that Init received: its port
// number, the folder for its link, the group to give its pseudo-terminal to,
// and the two calls through which it reports (the caller's last error, the
// debug output). A copy, so the device manager's structure need not outlive
// the call.
#pragma once

#include <string>
#include <string_view>

#include "platform/streamdriver.h"

namespace quorvel {

class DriverHost {
public:
    // Whether `host` carries what an instance needs (an older, shorter host
    // without the later fields will do).
    static bool Usable(const DEVICE_HOST* host);
    explicit DriverHost(const DEVICE_HOST& host);

    DWORD deviceIndex() const { return deviceIndex_; }
    const std::string& nodeFolder() const { return nodeFolder_; }
    // Empty: the pseudo-terminal keeps the modes it was made with.
    const std::string& portGroup() const { return portGroup_; }
    // "COM5": the port's name, used for its link and in debug lines.
    const std::string& portName() const { return portName_; }

    void SetLastError(DWORD error) const;
    // Writes "<line>\n", for a line that names the port itself.
    void DebugLine(std::string_view line) const;
    // Writes "quorvel COM5: <what>\n".
    void Debug(std::string_view what) const;
    // Writes "quorvel COM5: <what>: <the host's text for errno error>\n".
    void Debug(std::string_view what, int error) const;

private:
    DWORD deviceIndex_;
    std::string nodeFolder_;
    std::string portGroup_;
    std::string portName_;
    void (*setLastError_)(DWORD error);
    void (*debugOutput_)(const WCHAR* text);
};

// UTF-8 to UTF-16; a byte that starts no valid sequence becomes U+FFFD.
std::u16string WidenUtf8(std::string_view text);

}  // namespace quorvel
