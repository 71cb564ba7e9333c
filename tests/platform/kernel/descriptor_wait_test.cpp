// A wait on an object whose changes a host descriptor tells (a port's receive
// event, say) when that descriptor goes bad.
#include <fcntl.h>
#include <unistd.h>

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

}  // namespace
