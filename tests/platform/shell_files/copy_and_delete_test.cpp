// CopyFileW and DeleteFileW on a real device root: what they change, what
// they refuse, and that a refused or failed call changes nothing.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include "platform/kernel.h"
#include "shell_files_fixture.h"

namespace {

using namespace tavrel::testing;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

const WCHAR* const kProgramsShortcut = u"\\Windows\\Start Menu\\Programs\\Tavrel.lnk";
const WCHAR* const kStartupShortcut = u"\\Windows\\StartUp\\Tavrel.lnk";
const std::string kShortcut = "34#\"\\Program Files\\Tavrel\\Tavrel.exe\"";

void MakeReadOnly(const fs::path& file)
{
    fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

// Files of this process may not grow past the limit while it lives: a write
// beyond it fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        const rlimit limit{bytes, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
};

class CopyTest : public ShellFilesTest {
protected:
    void SetUp() override
    {
        WCHAR path[MAX_PATH] = {};
        ASSERT_TRUE(SHGetSpecialFolderPath(nullptr, path, CSIDL_PROGRAMS, TRUE));
        ASSERT_TRUE(SHGetSpecialFolderPath(nullptr, path, CSIDL_STARTUP, TRUE));
        Put("Windows/Start Menu/Programs/Tavrel.lnk", kShortcut);
    }
};

TEST_F(CopyTest, TheShortcutReplacesAnOlderCopyInStartUp)
{
    Put("Windows/StartUp/Tavrel.lnk", "an older and longer shortcut to somewhere else");
    ASSERT_TRUE(CopyFileW(kProgramsShortcut, kStartupShortcut, FALSE));
    EXPECT_EQ(Content("Windows/StartUp/Tavrel.lnk"), kShortcut);
    EXPECT_EQ(Content("Windows/Start Menu/Programs/Tavrel.lnk"), kShortcut);
    EXPECT_EQ(HostNames("Windows/StartUp"), Strings{"Tavrel.lnk"});   // no temporary file left behind
}

TEST_F(CopyTest, ACopyIsWholeKeepsItsWriteTimeAndTheStoredSpellingOfTheTarget)
{
    std::string binary;
    for (int i = 0; i < (1 << 20) + 7; ++i) {   // more than one chunk, every byte value
        binary.push_back(static_cast<char>(static_cast<unsigned char>(i % 251)));
    }
    Put("Program Files/data.bin", binary);
    const timespec times[2] = {{1577836800, 0}, {1577836800, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Host("Program Files/data.bin").c_str(), times, 0), 0);
    Put("Windows/StartUp/DATA.BIN", "old");

    ASSERT_TRUE(CopyFileW(u"\\program files\\Data.bin", u"\\windows\\startup\\Data.bin", FALSE));
    EXPECT_EQ(HostNames("Windows/StartUp"), Strings{"DATA.BIN"});
    EXPECT_TRUE(Content("Windows/StartUp/DATA.BIN") == binary);
    struct stat copied {};
    ASSERT_EQ(::stat(Host("Windows/StartUp/DATA.BIN").c_str(), &copied), 0);
    EXPECT_EQ(copied.st_mtim.tv_sec, 1577836800);
}

TEST_F(CopyTest, FailIfExistsKeepsAnExistingTargetOfAnyLetterCase)
{
    Put("Windows/StartUp/tavrel.LNK", "old");
    EXPECT_FALSE(CopyFileW(kProgramsShortcut, kStartupShortcut, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(Content("Windows/StartUp/tavrel.LNK"), "old");

    ASSERT_TRUE(CopyFileW(kProgramsShortcut, u"\\Windows\\StartUp\\Fresh.lnk", TRUE));
    EXPECT_EQ(Content("Windows/StartUp/Fresh.lnk"), kShortcut);
    EXPECT_EQ(HostNames("Windows/StartUp"), (Strings{"Fresh.lnk", "tavrel.LNK"}));
}

TEST_F(CopyTest, RefusalsNameWhatIsWrongAndChangeNothing)
{
    struct Case {
        const WCHAR* from;
        const WCHAR* to;
        DWORD error;
    };
    Put("Windows/StartUp/Tavrel.lnk", "old");
    Put("Windows/StartUp/Locked.lnk", "locked");
    MakeReadOnly(Host("Windows/StartUp/Locked.lnk"));
    fs::create_directory(Host("Windows/StartUp/Folder.lnk"));
    const Case cases[] = {
        {u"\\Windows\\Start Menu\\Programs\\Missing.lnk", kStartupShortcut, ERROR_FILE_NOT_FOUND},
        {u"\\Windows\\Nowhere\\Tavrel.lnk", kStartupShortcut, ERROR_PATH_NOT_FOUND},
        {kProgramsShortcut, u"\\Windows\\Nowhere\\Tavrel.lnk", ERROR_PATH_NOT_FOUND},
        {u"\\Windows\\Start Menu\\Programs", kStartupShortcut, ERROR_ACCESS_DENIED},
        {kProgramsShortcut, u"\\Windows\\StartUp\\Folder.lnk", ERROR_ACCESS_DENIED},
        {kProgramsShortcut, u"\\Windows\\StartUp\\Locked.lnk", ERROR_ACCESS_DENIED},
        {kProgramsShortcut, u"\\Windows\\..\\..\\escaped.lnk", ERROR_PATH_NOT_FOUND},
        {nullptr, kStartupShortcut, ERROR_INVALID_PARAMETER},
        {kProgramsShortcut, nullptr, ERROR_INVALID_PARAMETER},
    };
    for (const Case& test : cases) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(CopyFileW(test.from, test.to, FALSE));
        EXPECT_EQ(GetLastError(), test.error) << (&test - cases);
    }
    EXPECT_EQ(Content("Windows/StartUp/Tavrel.lnk"), "old");
    EXPECT_EQ(Content("Windows/StartUp/Locked.lnk"), "locked");
    EXPECT_EQ(HostNames("Windows/StartUp"), (Strings{"Folder.lnk", "Locked.lnk", "Tavrel.lnk"}));
    EXPECT_FALSE(fs::exists(device_.root() / "escaped.lnk"));
    EXPECT_FALSE(fs::exists(device_.root().parent_path() / "escaped.lnk"));
}

TEST_F(CopyTest, AWriteThatFailsPartWayLeavesTheOldTargetWhole)
{
    Put("Windows/Start Menu/Programs/Big.lnk", std::string(1 << 20, 'n'));
    Put("Windows/StartUp/Big.lnk", "old");
    {
        const FileSizeLimit limit(64 * 1024);
        EXPECT_FALSE(CopyFileW(u"\\Windows\\Start Menu\\Programs\\Big.lnk", u"\\Windows\\StartUp\\Big.lnk", FALSE));
        EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    }
    EXPECT_EQ(Content("Windows/StartUp/Big.lnk"), "old");
    EXPECT_EQ(HostNames("Windows/StartUp"), Strings{"Big.lnk"});
}

TEST_F(ShellFilesTest, DeleteRemovesAFileNamedInAnyLetterCaseOnce)
{
    Put("Windows/StartUp/Tavrel.lnk", "x");
    Put("Windows/StartUp/Other.lnk", "y");
    EXPECT_TRUE(DeleteFileW(u"\\WINDOWS\\startup\\tavrel.LNK"));
    EXPECT_EQ(HostNames("Windows/StartUp"), Strings{"Other.lnk"});
    EXPECT_FALSE(DeleteFileW(kStartupShortcut));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(ShellFilesTest, DeleteRefusesFoldersReadOnlyFilesPatternsAndEscapes)
{
    struct Case {
        const WCHAR* path;
        DWORD error;
    };
    Put("Windows/StartUp/Other.lnk", "y");
    Put("Windows/StartUp/Locked.lnk", "locked");
    MakeReadOnly(Host("Windows/StartUp/Locked.lnk"));
    fs::create_directory(Host("Windows/StartUp/Sub"));
    WriteWholeFile(device_.root() / "outside.txt", "not the device's");
    const Case cases[] = {
        {u"\\Windows\\Nowhere\\Other.lnk", ERROR_PATH_NOT_FOUND},
        {u"\\Windows\\StartUp\\Sub", ERROR_ACCESS_DENIED},
        {u"\\Windows\\StartUp\\", ERROR_ACCESS_DENIED},
        {u"\\Windows\\StartUp\\Locked.lnk", ERROR_ACCESS_DENIED},
        {u"\\Windows\\StartUp\\*.lnk", ERROR_FILE_NOT_FOUND},   // a name, never a pattern
        {u"\\..\\outside.txt", ERROR_PATH_NOT_FOUND},
        {nullptr, ERROR_INVALID_PARAMETER},
    };
    for (const Case& test : cases) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(DeleteFileW(test.path));
        EXPECT_EQ(GetLastError(), test.error) << (&test - cases);
    }
    EXPECT_EQ(HostNames("Windows/StartUp"), (Strings{"Locked.lnk", "Other.lnk", "Sub"}));
    EXPECT_TRUE(fs::exists(device_.root() / "outside.txt"));
}

}  // namespace
