// A wake from another thread ends a poll on the signal, and one drain takes
// every wake that came before it.
#include <poll.h>

#include <thread>

#include <gtest/gtest.h>

#include "platform/host/wake_signal.h"

namespace {

using platform::host::WakeSignal;

bool Readable(const WakeSignal& signal, int milliseconds)
{
    pollfd watched{signal.fd(), POLLIN, 0};
    return ::poll(&watched, 1, milliseconds) == 1;
}

TEST(WakeSignal, AWakeEndsASleepingPollAndOneDrainTakesEveryWake)
{
    const WakeSignal signal;
    ASSERT_TRUE(signal.valid());
    EXPECT_FALSE(Readable(signal, 0));
    std::thread waker([&signal] {
        EXPECT_TRUE(signal.Wake());
        EXPECT_TRUE(signal.Wake());
    });
    EXPECT_TRUE(Readable(signal, 10'000));
    waker.join();
    signal.Drain();
    EXPECT_FALSE(Readable(signal, 0));
}

}  // namespace
