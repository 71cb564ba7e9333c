#include "session/cross_process_posts.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <optional>
#include <system_error>
#include <type_traits>

#include "platform/host/interrupted_calls.h"
#include "session/device_session.h"

namespace platform::session {
namespace {

// A post on the wire: magic, message, window, wParam, lParam; host byte order,
// since both ends run on the same machine.
constexpr std::uint32_t kPostMagic = 0x54505354;  // "TSPT"
constexpr std::size_t kPostSize = 32;
using WirePost = std::array<unsigned char, kPostSize>;

struct Post {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

template <typename T> void Put(WirePost& wire, std::size_t offset, T value)
{
    static_assert(std::is_trivially_copyable_v<T>);
    std::memcpy(wire.data() + offset, &value, sizeof value);
}

template <typename T> T Get(const WirePost& wire, std::size_t offset)
{
    T value{};
    std::memcpy(&value, wire.data() + offset, sizeof value);
    return value;
}

WirePost Encode(const Post& post)
{
    WirePost wire{};
    Put(wire, 0, kPostMagic);
    Put(wire, 4, static_cast<std::uint32_t>(post.message));
    Put(wire, 8, static_cast<std::uint64_t>(reinterpret_cast<ULONG_PTR>(post.window)));
    Put(wire, 16, static_cast<std::uint64_t>(post.wParam));
    Put(wire, 24, static_cast<std::int64_t>(post.lParam));
    return wire;
}

std::optional<Post> Decode(const WirePost& wire)
{
    if (Get<std::uint32_t>(wire, 0) != kPostMagic) {
        return std::nullopt;
    }
    return Post{reinterpret_cast<HWND>(static_cast<ULONG_PTR>(Get<std::uint64_t>(wire, 8))),
                Get<std::uint32_t>(wire, 4), static_cast<WPARAM>(Get<std::uint64_t>(wire, 16)),
                static_cast<LPARAM>(Get<std::int64_t>(wire, 24))};
}

struct SocketAddress {
    sockaddr_un address{};
    socklen_t length = 0;
};

// An abstract address: a zero byte, then the name; its length ends it.
SocketAddress AddressOf(const std::filesystem::path& deviceRoot, std::uint32_t process)
{
    const std::string name = PostAddress(deviceRoot, process);
    SocketAddress result;
    result.address.sun_family = AF_UNIX;
    std::memcpy(result.address.sun_path + 1, name.data(), name.size());
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return result;
}

UniqueFd NewDatagramSocket()
{
    return UniqueFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

// Whether the sender runs as the same user: the abstract namespace is open to
// every process of the host, and only this user's programs may post here.
bool FromThisUser(msghdr& header)
{
    for (cmsghdr* control = CMSG_FIRSTHDR(&header); control != nullptr; control = CMSG_NXTHDR(&header, control)) {
        if (control->cmsg_level == SOL_SOCKET && control->cmsg_type == SCM_CREDENTIALS) {
            ucred credentials{};
            std::memcpy(&credentials, CMSG_DATA(control), sizeof credentials);
            return credentials.uid == ::getuid();
        }
    }
    return false;
}

// Reads one datagram into `wire`: its size (0 when it did not fit), or -1 when
// none is waiting. An error is taken as "none": reading it has cleared it.
ssize_t ReceiveDatagram(int socket, WirePost& wire, bool& fromThisUser)
{
    iovec buffer{wire.data(), wire.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr header{};
    header.msg_iov = &buffer;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t received = host::RetryOnInterrupt([&] { return ::recvmsg(socket, &header, MSG_DONTWAIT); });
    if (received < 0) {
        return -1;
    }
    fromThisUser = FromThisUser(header);
    return (header.msg_flags & MSG_TRUNC) != 0 ? 0 : received;
}

}  // namespace

std::string PostAddress(const std::filesystem::path& deviceRoot, std::uint32_t process)
{
    char identity[17];
    const auto end = std::to_chars(identity, identity + 16, DeviceIdentity(deviceRoot), 16).ptr;
    return "tavrel-posts-" + std::string(identity, end) + "-" + std::to_string(process);
}

bool SendPost(const std::filesystem::path& deviceRoot, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const UniqueFd sender = NewDatagramSocket();
    if (!sender.valid()) {
        return false;
    }
    const SocketAddress to = AddressOf(deviceRoot, ProcessOfWindow(window));
    const WirePost wire = Encode({window, message, wParam, lParam});
    const ssize_t sent = host::RetryOnInterrupt([&] {
        return ::sendto(sender.get(), wire.data(), wire.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&to.address), to.length);
    });
    return sent == static_cast<ssize_t>(wire.size());
}

std::unique_ptr<PostReceiver> PostReceiver::Start(const std::filesystem::path& deviceRoot, PostHandler handler)
{
    UniqueFd socket = NewDatagramSocket();
    host::WakeSignal wakeUp;
    const SocketAddress self = AddressOf(deviceRoot, static_cast<std::uint32_t>(::getpid()));
    const int passCredentials = 1;
    if (!socket.valid() || !wakeUp.valid() ||
        ::setsockopt(socket.get(), SOL_SOCKET, SO_PASSCRED, &passCredentials, sizeof passCredentials) != 0 ||
        ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&self.address), self.length) != 0) {
        return nullptr;
    }
    auto receiver =
        std::make_unique<PostReceiver>(deviceRoot, std::move(socket), std::move(wakeUp), std::move(handler));
    try {
        receiver->thread_ = std::thread(&PostReceiver::Run, receiver.get());
    } catch (const std::system_error&) {
        return nullptr;
    }
    return receiver;
}

PostReceiver::PostReceiver(std::filesystem::path deviceRoot, UniqueFd socket, host::WakeSignal wakeUp,
                           PostHandler handler)
    : deviceRoot_(std::move(deviceRoot)), socket_(std::move(socket)), wakeUp_(std::move(wakeUp)),
      handler_(std::make_shared<const PostHandler>(std::move(handler)))
{
}

PostReceiver::~PostReceiver()
{
    if (!thread_.joinable()) {
        return;
    }
    wakeUp_.Wake();
    thread_.join();
}

void PostReceiver::SetHandler(PostHandler handler)
{
    auto replacement = std::make_shared<const PostHandler>(std::move(handler));
    std::lock_guard guard(handlerLock_);
    handler_ = std::move(replacement);
}

void PostReceiver::Run()
{
    std::array<pollfd, 2> watched{{{socket_.get(), POLLIN, 0}, {wakeUp_.fd(), POLLIN, 0}}};
    for (;;) {
        if (host::RetryOnInterrupt([&] { return ::poll(watched.data(), watched.size(), -1); }) < 0) {
            return;
        }
        if (watched[1].revents != 0 || (watched[0].revents & POLLNVAL) != 0) {
            return;
        }
        TakePendingPosts();
    }
}

// Reads until the socket is empty. A datagram that is not exactly one post
// from this user and for this process is dropped.
void PostReceiver::TakePendingPosts()
{
    for (;;) {
        WirePost wire{};
        bool fromThisUser = false;
        const ssize_t size = ReceiveDatagram(socket_.get(), wire, fromThisUser);
        if (size < 0) {
            return;
        }
        const auto post = size == static_cast<ssize_t>(wire.size()) && fromThisUser ? Decode(wire) : std::nullopt;
        if (post && ProcessOfWindow(post->window) == static_cast<std::uint32_t>(::getpid())) {
            Deliver(post->window, post->message, post->wParam, post->lParam);
        }
    }
}

void PostReceiver::Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<const PostHandler> handler;
    {
        std::lock_guard guard(handlerLock_);
        handler = handler_;
    }
    // Called without the lock, so that the handler may replace itself.
    if (*handler) {
        (*handler)(window, message, wParam, lParam);
    }
}

}  // namespace platform::session
