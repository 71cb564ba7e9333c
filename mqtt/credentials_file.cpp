#include "mqtt/credentials_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace tavrel::mqtt {
namespace {

// Who besides the owner may read the file, in words; empty for nobody.
std::string OtherReaders(mode_t mode)
{
    if ((mode & S_IROTH) != 0) {
        return "others";
    }
    if ((mode & S_IRGRP) != 0) {
        return "its group";
    }
    return {};
}

std::string WithoutCarriageReturn(std::string line)
{
    if (line.ends_with('\r')) {
        line.pop_back();
    }
    return line;
}

std::string CannotRead(const std::string& what, const std::string& path)
{
    return "MQTT: " + what + " " + path + " cannot be read: " + std::strerror(errno);
}

}  // namespace

bool CheckReadable(const std::string& what, const std::string& path, std::string& failure)
{
    std::ifstream file(path);
    if (!file) {
        failure = CannotRead(what, path);
        return false;
    }
    return true;
}

std::optional<Credentials> ReadCredentialsFile(const std::string& path, std::string& failure)
{
    const std::string what = "credentials file";
    if (!CheckReadable(what, path, failure)) {
        return std::nullopt;
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        failure = CannotRead(what, path);
        return std::nullopt;
    }
    const std::string readers = OtherReaders(status.st_mode);
    if (!readers.empty()) {
        failure = "MQTT: " + what + " " + path + " is readable by " + readers + ": chmod 600 " + path;
        return std::nullopt;
    }
    std::ifstream file(path);
    Credentials credentials;
    std::getline(file, credentials.user);
    std::getline(file, credentials.password);
    credentials.user = WithoutCarriageReturn(credentials.user);
    credentials.password = WithoutCarriageReturn(credentials.password);
    if (credentials.user.empty()) {
        failure = "MQTT: " + what + " " + path + " has no user name on its first line";
        return std::nullopt;
    }
    return credentials;
}

}  // namespace tavrel::mqtt
