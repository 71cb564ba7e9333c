// Named mutexes on a device: their names are held among the device's
// processes in its run/ folder, belong to the device they were made on, and
// fail to be made while that folder cannot be used.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/boot.h"
#include "platform/kernel.h"
#include "platform/user.h"
#include "support/test_device.h"
#include "testkit/temp_folder.h"

namespace {

using tavrel::testing::TestDevice;
using tavrel::testing::WriteWholeFile;

TEST(NamedMutex, AnyCharactersNameDistinctMutexesOnADeviceAndLeaveNoFilesBehind)
{
    TestDevice device;
    const std::u16string names[] = {
        u"a/b",
        u"a\\b",
        u"..",
        u"line\nbreak",
        u"A/B",
        u"\xD800 lone surrogate",
        u"\U0001F600",
        std::u16string(50, u'n'),
        std::u16string(51, u'n'),
        std::u16string(MAX_PATH, u'n'),
    };
    std::vector<HANDLE> handles;
    for (const auto& name : names) {
        handles.push_back(CreateMutexW(nullptr, FALSE, name.c_str()));
        ASSERT_NE(handles.back(), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "a name was taken for another";
    }
    for (HANDLE handle : handles) {
        CloseHandle(handle);
    }
    // Only the lock that guards the names remains.
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(device.root() / "run" / "mutex")) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{".guard"});
}

// A name that cannot be taken among the device's processes is not made a
// name of this process alone: every creation fails, with a reason, until the
// device's run/ folder can be used again.
TEST(NamedMutex, OnADeviceWhoseRunFolderCannotBeUsedCreationFailsUntilItCanBe)
{
    TestDevice device;
    const auto run = device.root() / "run";
    std::filesystem::remove_all(run);
    WriteWholeFile(run, "not a folder");
    for (int attempt = 0; attempt < 2; ++attempt) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(CreateMutexW(nullptr, FALSE, u"Tavrel"), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    }

    std::filesystem::remove(run);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"Tavrel");
    EXPECT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(mutex);
}

// A process that boots one device after another keeps their names apart: a
// name made on one device is new once no device is up and new on the next
// device, while a handle made on the first stays open; the first device,
// booted again, still knows it.
TEST(NamedMutex, ANameBelongsToTheDeviceItWasMadeOn)
{
    TestDevice first;
    HANDLE onFirst = CreateMutexW(nullptr, FALSE, u"Tavrel");
    ASSERT_NE(onFirst, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    platform::ShutdownDevice();
    HANDLE withoutDevice = CreateMutexW(nullptr, FALSE, u"Tavrel");
    ASSERT_NE(withoutDevice, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "the name of a device that is down is still known";
    {
        TestDevice second;
        HANDLE onSecond = CreateMutexW(nullptr, FALSE, u"Tavrel");
        ASSERT_NE(onSecond, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "the name of another device is known on this one";
        CloseHandle(onSecond);
    }

    first.Reboot();
    HANDLE again = CreateMutexW(nullptr, FALSE, u"Tavrel");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << "the device forgot a name whose handle is open";
    CloseHandle(again);
    CloseHandle(withoutDevice);
    CloseHandle(onFirst);
}

}  // namespace
