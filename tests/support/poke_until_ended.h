// Ends what a test left running on a thread of its own (a modal dialog after
// a failed check) by poking it until it says it has ended. That thread writes
// into the object that owns it, so it must end before the object goes: when
// it has not ended after 20 s, the test program stops with a message rather
// than hang until the test's time-out or go on over freed memory.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace tavrel::testing {

template <typename Ended, typename Poke>
void PokeUntilEnded(Ended ended, Poke poke, const char* what)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!ended()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            std::fprintf(stderr, "%s did not end within 20 s\n", what);
            std::abort();
        }
        poke();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace tavrel::testing
