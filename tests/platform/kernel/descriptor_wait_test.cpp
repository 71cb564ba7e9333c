// A wait on an object whose changes a host descriptor tells (a port's receive
// event, say) when that descriptor goes bad.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include <gtest/gtest.h>

#include "kernel/kernel_object.h"
#include "platform/host/unique_fd.h"
#include "platform/kernel.h"

namespace {

using platform::host::UniqueFd;

// Only keeps a wait that spins from hanging the test.
constexpr DWORD kGenerous = 20000;

// Never signalled; its changes would be told by `descriptor`.
class Watched final : public platform::kernel::KernelObject {
public:
    explicit Watched(int descriptor)
        : KernelObject(platform::kernel::ObjectType::CommReceiveEvent), descriptor_(descriptor)
    {
    }
    bool IsWaitable() const override { return true; }
    int ReadinessDescriptor() const override { return descriptor_.get(); }

private:
    const UniqueFd descriptor_;
};

// The write end of a pipe whose read end is closed: it polls POLLERR for good.
int DescriptorInError()
{
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return -1;
    }
    ::close(ends[0]);
    return ends[1];
}

TEST(DescriptorWaits, ADescriptorInErrorFailsTheWaitInsteadOfSpinningUntilItsEnd)
{
    const int bad = DescriptorInError();
    ASSERT_GE(bad, 0);
    HANDLE watched = platform::kernel::InsertHandle(std::make_shared<Watched>(bad));
    ASSERT_NE(watched, nullptr);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);

    EXPECT_EQ(WaitForSingleObject(watched, kGenerous), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    const HANDLE both[2] = {event, watched};
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, kGenerous), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    // An object that is signalled still satisfies the wait.
    SetEvent(event);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, kGenerous), WAIT_OBJECT_0);
    EXPECT_EQ(CloseHandle(event), TRUE);
    EXPECT_EQ(CloseHandle(watched), TRUE);
}

// Signalled while its eventfd is readable, which its descriptor tells
// exactly; counts how often it is asked.
class ExactlyWatched final : public platform::kernel::KernelObject {
public:
    ExactlyWatched() : KernelObject(platform::kernel::ObjectType::CommReceiveEvent) {}
    bool IsWaitable() const override { return true; }
    int ReadinessDescriptor() const override { return counter_.get(); }
    bool ReadinessIsExact() const override { return true; }
    bool IsSignalled() const override
    {
        ++asked_;
        pollfd readable{counter_.get(), POLLIN, 0};
        return ::poll(&readable, 1, 0) == 1;
    }

    void Raise() const
    {
        const std::uint64_t one = 1;
        ASSERT_EQ(::write(counter_.get(), &one, sizeof one), static_cast<ssize_t>(sizeof one));
    }
    int asked() const { return asked_; }

private:
    const UniqueFd counter_{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    mutable std::atomic<int> asked_{0};
};

TEST(DescriptorWaits, AWaitForAnyLearnsAnExactObjectsStateFromItsPollAlone)
{
    const auto watched = std::make_shared<ExactlyWatched>();
    HANDLE handle = platform::kernel::InsertHandle(watched);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE both[2] = {event, handle};

    watched->Raise();
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, kGenerous), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(watched->asked(), 0) << "a readable descriptor says it all";

    // A zero time-out never polls, so it asks.
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
    EXPECT_EQ(watched->asked(), 1);

    // The lowest signalled index still wins, though only the event is asked first.
    const HANDLE reversed[2] = {handle, event};
    SetEvent(event);
    EXPECT_EQ(WaitForMultipleObjects(2, reversed, FALSE, kGenerous), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, kGenerous), WAIT_OBJECT_0);
    EXPECT_EQ(CloseHandle(event), TRUE);
    EXPECT_EQ(CloseHandle(handle), TRUE);
}

}  // namespace
