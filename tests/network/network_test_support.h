// What the network tests share: waiting on a condition, and running a test
// with a network of its own that it may take away.
#pragma once

#include <chrono>
#include <functional>

namespace tavrel::network::testing {

// Waits, looking every millisecond, until `condition` holds; false after `timeout`.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Runs `body` in a copy of this test program that has a network namespace
// of its own, with `lo` up, so that it may take `lo` down and up again; the
// test passes when the copy's does. Skipped only when the host refuses
// namespaces.
void RunInOwnNetworkNamespace(const std::function<void()>& body);

}  // namespace tavrel::network::testing
