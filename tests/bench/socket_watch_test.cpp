// Seeing a relay let a client go: its count of socket descriptors, and the
// moment that count fell.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "bench/socket_watch.h"
#include "platform/host/unique_fd.h"

namespace {

using namespace tavrel::bench;
using namespace std::chrono_literals;
using platform::host::UniqueFd;

UniqueFd NewSocket()
{
    return UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

TEST(SocketWatch, CountsOnlySocketsAmongTheDescriptors)
{
    const std::vector<pid_t> self = {::getpid()};
    const std::size_t before = SocketCount(self);
    const UniqueFd first = NewSocket();
    const UniqueFd second = NewSocket();
    const UniqueFd notASocket(::dup(STDIN_FILENO));
    ASSERT_TRUE(first.valid() && second.valid());
    EXPECT_EQ(SocketCount(self), before + 2);
}

TEST(SocketWatch, AClosedSocketIsSeenAfterItsStart)
{
    UniqueFd socket = NewSocket();
    ASSERT_TRUE(socket.valid());
    const Clock::time_point start = Clock::now();
    const SocketWatch watch({::getpid()}, 10ms);
    socket = UniqueFd();
    const Clock::time_point closed = Clock::now();
    const Clock::time_point deadline = closed + 10s;
    while (watch.ClosedAfter(start).empty() && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    const std::vector<double> seconds = watch.ClosedAfter(start);
    ASSERT_EQ(seconds.size(), 1u);
    EXPECT_GE(seconds.front(), Seconds(closed - start) - 0.001);
}

}  // namespace
