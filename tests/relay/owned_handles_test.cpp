// The owners of a run's handles and timer: each releases exactly what it
// holds, when another takes its place, when it is reset and when it goes.
#include <gtest/gtest.h>

#include "platform/kernel.h"
#include "platform/user.h"
#include "relay/owned_handles.h"

namespace {

HANDLE NewEvent()
{
    return CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

// Whether `event` is still an open handle: setting a closed one fails.
bool IsOpen(HANDLE event)
{
    return SetEvent(event) == TRUE;
}

TEST(OwnedHandle, ReleasesWhatItHeldWhenReplacedResetOrGone)
{
    const HANDLE first = NewEvent();
    const HANDLE second = NewEvent();
    const HANDLE third = NewEvent();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(third, nullptr);
    {
        OwnedHandle owner;
        EXPECT_EQ(owner.get(), nullptr);
        owner.Reset();   // holding nothing, it has nothing to close
        owner.Reset(first);
        EXPECT_EQ(owner.get(), first);
        EXPECT_TRUE(IsOpen(first));

        owner.Reset(second);
        EXPECT_EQ(owner.get(), second);
        EXPECT_FALSE(IsOpen(first));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_TRUE(IsOpen(second));

        owner.Reset();
        EXPECT_EQ(owner.get(), nullptr);
        EXPECT_FALSE(IsOpen(second));

        owner.Reset(third);
    }
    EXPECT_FALSE(IsOpen(third));
}

TEST(OwnedTimer, KillsTheTimerItHeldWhenReplacedResetOrGone)
{
    const UINT_PTR first = SetTimer(nullptr, 0, 60000, nullptr);
    const UINT_PTR second = SetTimer(nullptr, 0, 60000, nullptr);
    const UINT_PTR third = SetTimer(nullptr, 0, 60000, nullptr);
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    ASSERT_NE(third, 0u);
    // A live timer can be killed: the kills below that fail found theirs gone.
    const UINT_PTR control = SetTimer(nullptr, 0, 60000, nullptr);
    ASSERT_NE(control, 0u);
    EXPECT_EQ(KillTimer(nullptr, control), TRUE);
    {
        OwnedTimer owner;
        EXPECT_EQ(owner.get(), 0u);
        owner.Reset(first);
        owner.Reset(second);
        EXPECT_EQ(owner.get(), second);
        // A timer that was killed already cannot be killed again.
        EXPECT_EQ(KillTimer(nullptr, first), FALSE);
        owner.Reset(third);
        EXPECT_EQ(KillTimer(nullptr, second), FALSE);
    }
    EXPECT_EQ(KillTimer(nullptr, third), FALSE);
}

}  // namespace
