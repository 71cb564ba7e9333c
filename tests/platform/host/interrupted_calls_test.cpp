// A host call that a signal interrupts is made again, and only then.
#include <sys/types.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "platform/host/interrupted_calls.h"

namespace {

using platform::host::RetryOnInterrupt;

TEST(RetryOnInterrupt, MakesAnInterruptedCallAgainUntilItAnswers)
{
    int calls = 0;
    const ssize_t answer = RetryOnInterrupt([&] {
        errno = EINTR;
        return ++calls < 3 ? ssize_t{-1} : ssize_t{7};
    });
    EXPECT_EQ(answer, 7);
    EXPECT_EQ(calls, 3);
}

TEST(RetryOnInterrupt, AnswersAnyOtherFailureAtOnceWithItsErrno)
{
    int calls = 0;
    const int answer = RetryOnInterrupt([&] {
        ++calls;
        errno = EAGAIN;
        return -1;
    });
    EXPECT_EQ(answer, -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(calls, 1);
}

}  // namespace
