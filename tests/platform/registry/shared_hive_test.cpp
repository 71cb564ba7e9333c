// A hive file that other processes change while this one has it mounted: the
// next call sees their change, open handles follow their keys, and a file that
// someone breaks is never written over. Another process is played here by what
// it does to the file: it renames a new file into place.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "registry/hives.h"
#include "registry_test_util.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;
using platform::registry::MountHives;
using platform::registry::UnmountHives;

class SharedHiveFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MountHives(folder).ok);
        app = CreateKey(HKEY_CURRENT_USER, u"Software\\App");
        ASSERT_EQ(SetValue(app, u"Port", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_SUCCESS);
    }
    void TearDown() override { UnmountHives(); }

    std::filesystem::path UserFile() const { return folder / "user.reg"; }

    // As another process saves the hive: a whole new file renamed over it.
    void SavedByAnotherProcess(const std::string& text) const
    {
        const std::filesystem::path other = folder / "other-process.tmp";
        WriteWholeFile(other, text);
        std::filesystem::rename(other, UserFile());
    }

    TempFolder temp;
    const std::filesystem::path folder = temp.path() / "registry";
    HKEY app = nullptr;
};

TEST_F(SharedHiveFile, TheNextCallSeesWhatAnotherProcessSaved)
{
    HKEY old = CreateKey(HKEY_CURRENT_USER, u"Software\\Old");
    // The same size as before for "Port", a key added and one deleted.
    SavedByAnotherProcess("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n[HKEY_CURRENT_USER\\Software\\App]\n"
                          "\"Port\"=dword:00000002\n\n[HKEY_CURRENT_USER\\Software\\New]\n");

    EXPECT_EQ(QueryValue(app, u"Port").data, Bytes({2, 0, 0, 0}));
    EXPECT_EQ(SubkeyNames(CreateKey(HKEY_CURRENT_USER, u"Software")), (std::vector<std::u16string>{u"App", u"New"}));
    EXPECT_EQ(SetValue(old, u"v", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_KEY_DELETED);

    // This process's next change is made to what the other saved.
    ASSERT_EQ(SetValue(app, u"Baud", REG_DWORD, Bytes({5, 0, 0, 0})), ERROR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(UserFile()),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n[HKEY_CURRENT_USER\\Software\\App]\n"
              "\"Port\"=dword:00000002\n\"Baud\"=dword:00000005\n\n[HKEY_CURRENT_USER\\Software\\New]\n");
}

TEST_F(SharedHiveFile, AFileBrokenWhileMountedIsNeverWrittenOverAndWorksAgainWhenRepaired)
{
    // Edited in place by a person, with a mistake on line 4.
    const std::string broken = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\App]\n\"Port\"=\"COM\n";
    WriteWholeFile(UserFile(), broken);

    EXPECT_EQ(SetValue(app, u"Port", REG_DWORD, Bytes({2, 0, 0, 0})), ERROR_BADDB);
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Other", 0, nullptr, 0, 0, nullptr, &created, nullptr),
              ERROR_BADDB);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software"), ERROR_BADDB);
    EXPECT_EQ(QueryValue(app, u"Port").result, ERROR_BADDB);
    EXPECT_EQ(ReadWholeFile(UserFile()), broken);

    SavedByAnotherProcess("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\App]\n\"Port\"=dword:00000003\n");
    EXPECT_EQ(QueryValue(app, u"Port").data, Bytes({3, 0, 0, 0}));
    EXPECT_EQ(SetValue(app, u"Port", REG_DWORD, Bytes({4, 0, 0, 0})), ERROR_SUCCESS);
    EXPECT_NE(ReadWholeFile(UserFile()).find("\"Port\"=dword:00000004"), std::string::npos);
}

TEST_F(SharedHiveFile, AFileDeletedWhileMountedIsAnEmptyHive)
{
    std::filesystem::remove(UserFile());
    EXPECT_EQ(QueryValue(app, u"Port").result, ERROR_KEY_DELETED);
    EXPECT_TRUE(SubkeyNames(HKEY_CURRENT_USER).empty());
    RegCloseKey(CreateKey(HKEY_CURRENT_USER, u"Again"));
    EXPECT_EQ(ReadWholeFile(UserFile()), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Again]\n");
}

}  // namespace
