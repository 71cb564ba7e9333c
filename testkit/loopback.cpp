#include "testkit/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tavrel::testing {

namespace {

sockaddr_in LoopbackAddress(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

std::uint16_t FreeLoopbackPort()
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (socket >= 0 && ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (socket >= 0) {
        ::close(socket);
    }
    return port;
}

int ConnectLoopback(std::uint16_t port, int receiveBuffer)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        return -1;
    }
    if (receiveBuffer > 0) {
        ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    const sockaddr_in address = LoopbackAddress(port);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

SocketReader::SocketReader(int socket) : socket_(socket)
{
    thread_ = std::thread([this] { ReadUntilEnd(); });
}

SocketReader::~SocketReader()
{
    ::shutdown(socket_, SHUT_RDWR);
    thread_.join();
    if (socket_ >= 0) {
        ::close(socket_);
    }
}

std::vector<unsigned char> SocketReader::bytes() const
{
    const std::lock_guard guard(lock_);
    return bytes_;
}

void SocketReader::ReadUntilEnd()
{
    std::vector<unsigned char> buffer(16 * 1024);
    for (;;) {
        const ssize_t got = ::recv(socket_, buffer.data(), buffer.size(), 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ended_ = true;
            return;
        }
        const std::lock_guard guard(lock_);
        bytes_.insert(bytes_.end(), buffer.begin(), buffer.begin() + got);
        count_ = bytes_.size();
    }
}

}  // namespace tavrel::testing
