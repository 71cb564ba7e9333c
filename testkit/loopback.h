// TCP on the loopback address, for tests and benchmarks that play a network
// client of the program.
#pragma once

#include <cstdint>

namespace tavrel::testing {

// A port on 127.0.0.1 that nobody listened on a moment ago (bound with port
// 0 and let go), for a server that the test tells its port by setting.
std::uint16_t FreeLoopbackPort();

// A socket connected to 127.0.0.1:port (blocking, close-on-exec), or -1.
// `receiveBuffer` (bytes, 0 for the default) is set before connecting, so
// that the kernel holds little for a client that does not read.
int ConnectLoopback(std::uint16_t port, int receiveBuffer = 0);

}  // namespace tavrel::testing
