// What the network tests share: waiting on a condition, a listening socket
// of the test's own on loopback, bytes that show one out of place, and
// running a test with a network of its own that it may take away.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/host/unique_fd.h"

namespace tavrel::network::testing {

// Waits, looking every millisecond, until `condition` holds; false after `timeout`.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A socket listening on 127.0.0.1 at `port` (0: one the kernel picks), non-blocking.
platform::host::UniqueFd Listen(std::uint16_t port = 0);
// The first connection to `listener`, blocking; fails the test after 20 s without one.
platform::host::UniqueFd Accept(const platform::host::UniqueFd& listener);

// `size` bytes in a pattern that starts at `seed`.
std::vector<unsigned char> Pattern(std::size_t size, unsigned char seed);

// Runs `body` in a copy of this test program that has a network namespace
// of its own, with `lo` up, so that it may take `lo` down and up again; the
// test passes when the copy's does. Skipped only when the host refuses
// namespaces.
void RunInOwnNetworkNamespace(const std::function<void()>& body);

}  // namespace tavrel::network::testing
