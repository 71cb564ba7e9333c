// The address of a Unix stream socket at a path, for both ends of an answer
// socket.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <filesystem>

namespace platform::session {

// False (errno ENAMETOOLONG) when the path does not fit an address.
inline bool LocalAddressOf(const std::filesystem::path& path, sockaddr_un& address)
{
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.empty() || text.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return true;
}

inline const sockaddr* AsSocketAddress(const sockaddr_un& address)
{
    return reinterpret_cast<const sockaddr*>(&address);
}

}  // namespace platform::session
