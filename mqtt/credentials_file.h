// The user name and password that the publisher gives its broker, read from
// a file of two lines (user, password) rather than from the settings, which
// other programs may read. The file must be kept from other users: one that
// its group or everyone may read is refused with the command that fixes it.
#pragma once

#include <optional>
#include <string>

namespace tavrel::mqtt {

struct Credentials {
    std::string user;
    std::string password;   // may be empty
};

// The credentials in `path`, or nothing with `failure` saying why in one
// line ("MQTT: credentials file /x is readable by others: chmod 600 /x").
std::optional<Credentials> ReadCredentialsFile(const std::string& path, std::string& failure);

// Whether `path` can be opened for reading; else `failure` says why.
bool CheckReadable(const std::string& what, const std::string& path, std::string& failure);

}  // namespace tavrel::mqtt
