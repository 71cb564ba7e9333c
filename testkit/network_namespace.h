// Tests that take a network away for real do it in a network namespace of
// their own, so that the host's network is never touched: the test program
// starts a copy of itself that runs that one test, the copy moves into a new
// namespace (which holds only `lo`, down) and takes interfaces up and down
// there as it likes. Plain POSIX and Linux calls.
#pragma once

#include <string>
#include <string_view>

namespace tavrel::testing {

// The exit code of a copy that the host refused a namespace (EPERM).
constexpr int kNamespaceRefused = 77;

// Whether this process is the copy started to run `test` ("Suite.Name").
bool IsNamespaceCopyFor(std::string_view test);

// Starts this test program again to run `test` alone, marked as its copy,
// with the same standard output and error; waits for it and gives its exit
// code (-1 when it could not start or was killed by a signal).
int RunNamespaceCopy(const std::string& test);

// Moves this process into a network namespace of its own: a network
// namespace alone where it may (root), otherwise inside a user namespace of
// its own too (which needs a single thread). False with errno set.
bool EnterOwnNetworkNamespace();

// Brings the interface `name` up or down; false with errno set.
bool SetInterfaceUp(const char* name, bool up);

// Gives the interface an IPv4 address under the alias `label` ("lo:1"), or
// takes it away again (an alias taken down loses its address); false with
// errno set.
bool AddIPv4Address(const char* label, const char* address);
bool RemoveIPv4Address(const char* label);

}  // namespace tavrel::testing
