#include "network_test_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

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
