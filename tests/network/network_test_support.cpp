#include "network_test_support.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "network/socket_options.h"
#include "testkit/network_namespace.h"

namespace tavrel::network::testing {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

platform::host::UniqueFd Listen(std::uint16_t port)
{
    std::string failure;
    platform::host::UniqueFd listener = ListenSocket(ListenOn::Loopback, port, failure);
    EXPECT_TRUE(listener.valid()) << failure;
    return listener;
}

platform::host::UniqueFd Accept(const platform::host::UniqueFd& listener)
{
    pollfd ready{listener.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&ready, 1, 20'000), 1) << "nobody connected";
    return platform::host::UniqueFd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
}

std::vector<unsigned char> Pattern(std::size_t size, unsigned char seed)
{
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(seed + i * 13);
    }
    return bytes;
}

namespace {

std::string CurrentTestName()
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(test->test_suite_name()) + "." + test->name();
}

// In the copy: the namespace, `lo` up, then the test itself.
void RunInsideNamespace(const std::function<void()>& body)
{
    using namespace tavrel::testing;
    if (!EnterOwnNetworkNamespace()) {
        if (errno == EPERM) {
            std::fprintf(stderr, "network namespaces refused: %s\n", std::strerror(errno));
            std::fflush(stderr);
            std::_Exit(kNamespaceRefused);
        }
        FAIL() << "cannot make a network namespace: " << std::strerror(errno);
    }
    ASSERT_TRUE(SetInterfaceUp("lo", true)) << "cannot bring lo up: " << std::strerror(errno);
    body();
}

}  // namespace

void RunInOwnNetworkNamespace(const std::function<void()>& body)
{
    const std::string test = CurrentTestName();
    if (tavrel::testing::IsNamespaceCopyFor(test)) {
        RunInsideNamespace(body);
        return;
    }
    const int code = tavrel::testing::RunNamespaceCopy(test);
    if (code == tavrel::testing::kNamespaceRefused) {
        GTEST_SKIP() << "this host refuses network namespaces (unshare: EPERM), so no network can be taken away here";
    }
    EXPECT_EQ(code, 0) << "the test failed inside its own network namespace (its output is above)";
}

}  // namespace tavrel::network::testing
