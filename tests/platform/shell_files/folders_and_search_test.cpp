// Special folders and searches of the device's file system, on a real device
// root: SHGetSpecialFolderPath, FindFirstFileW, FindNextFileW, FindClose.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "platform/idle_timer.h"
#include "platform/kernel.h"
#include "shell_files_fixture.h"

namespace {

using namespace tavrel::testing;
using Names = std::vector<std::u16string>;
namespace fs = std::filesystem;

constexpr int kCsidlPersonal = 0x0005;
constexpr int kCsidlProgramFiles = 0x0026;

std::u16string FolderPath(int csidl, BOOL create)
{
    WCHAR path[MAX_PATH + 1];
    std::fill(std::begin(path), std::end(path), u'x');
    path[MAX_PATH] = u'\0';   // so that a call that wrote nothing cannot make this test read on
    const BOOL found = SHGetSpecialFolderPath(nullptr, path, csidl, create);
    EXPECT_EQ(found == FALSE, path[0] == u'\0') << "a failure leaves an empty path, success a path";
    return path;
}

std::uint64_t Ticks(const FILETIME& time)
{
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

WIN32_FIND_DATAW FindOne(const WCHAR* path)
{
    WIN32_FIND_DATAW data{};
    HANDLE search = FindFirstFileW(path, &data);
    EXPECT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    return data;
}

TEST_F(ShellFilesTest, SpecialFoldersAreCreatedOnlyWhenAsked)
{
    EXPECT_EQ(FolderPath(CSIDL_STARTUP, FALSE), u"");
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(fs::exists(Host("Windows/StartUp")));

    EXPECT_EQ(FolderPath(CSIDL_STARTUP, TRUE), u"\\Windows\\StartUp");
    EXPECT_EQ(FolderPath(CSIDL_PROGRAMS, TRUE), u"\\Windows\\Start Menu\\Programs");
    EXPECT_TRUE(fs::is_directory(Host("Windows/StartUp")));
    EXPECT_TRUE(fs::is_directory(Host("Windows/Start Menu/Programs")));
    EXPECT_EQ(FolderPath(CSIDL_STARTUP, FALSE), u"\\Windows\\StartUp");
}

TEST_F(ShellFilesTest, OtherFoldersAreThePocketPcsAndUnknownOnesAreRefused)
{
    EXPECT_EQ(FolderPath(kCsidlPersonal, TRUE), u"\\My Documents");
    EXPECT_EQ(FolderPath(kCsidlProgramFiles, TRUE), u"\\Program Files");
    for (const int refused : {0x0000 /* the virtual desktop */, 0x0003 /* control panel */, 0x7FFF, -1}) {
        EXPECT_EQ(FolderPath(refused, TRUE), u"") << refused;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(HostNames(""), (std::vector<std::string>{"My Documents", "Program Files"}));
    EXPECT_FALSE(SHGetSpecialFolderPath(nullptr, nullptr, CSIDL_STARTUP, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(ShellFilesTest, CreatingReusesAFolderOfAnyLetterCaseAndStopsAtAFile)
{
    fs::create_directories(Host("windows/startup"));
    EXPECT_EQ(FolderPath(CSIDL_STARTUP, TRUE), u"\\Windows\\StartUp");
    EXPECT_EQ(FolderPath(CSIDL_PROGRAMS, TRUE), u"\\Windows\\Start Menu\\Programs");
    EXPECT_EQ(HostNames(""), std::vector<std::string>{"windows"});
    EXPECT_EQ(HostNames("windows"), (std::vector<std::string>{"Start Menu", "startup"}));

    Put("Program Files", "a file where the folder belongs");
    EXPECT_EQ(FolderPath(kCsidlProgramFiles, TRUE), u"");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
}

class SearchTest : public ShellFilesTest {
protected:
    void SetUp() override
    {
        Put("Windows/StartUp/Tavrel.lnk", "26#\"\\Program Files\\Tavrel\"");
        Put("Windows/StartUp/Other.LNK", "x");
        Put("Windows/StartUp/readme.txt", "y");
        fs::create_directories(Host("Windows/StartUp/Sub"));
    }

    const Names everything_{u"Other.LNK", u"Sub", u"Tavrel.lnk", u"readme.txt"};
};

TEST_F(SearchTest, NamesAndWildcardsMatchTheLastElementInAnyLetterCase)
{
    EXPECT_EQ(SearchNames(u"\\Windows\\StartUp\\*.lnk"), (Names{u"Other.LNK", u"Tavrel.lnk"}));
    EXPECT_EQ(SearchNames(u"\\windows\\STARTUP\\*"), everything_);
    EXPECT_EQ(SearchNames(u"\\Windows\\StartUp\\*.*"), everything_);   // "Sub" too, as on the device
    EXPECT_EQ(SearchNames(u"\\Windows\\StartUp\\?AVREL.*"), Names{u"Tavrel.lnk"});
    EXPECT_EQ(SearchNames(u"\\Windows\\StartUp\\t*l.*"), Names{u"Tavrel.lnk"});
    EXPECT_EQ(SearchNames(u"\\Windows\\StartUp\\*e*.t?t"), Names{u"readme.txt"});
    EXPECT_EQ(SearchNames(u"Windows\\StartUp\\s*"), Names{u"Sub"});   // no leading backslash: from the root
    // Without wildcards: the one name, in whatever case it is asked, reported as stored.
    EXPECT_EQ(SearchNames(u"\\WINDOWS\\startup\\TAVREL.LNK"), Names{u"Tavrel.lnk"});
}

TEST_F(SearchTest, FindDataDescribesEachEntry)
{
    const timespec times[2] = {{1577836800, 0}, {1577836800, 500000000}};   // 2020-01-01 UTC
    ASSERT_EQ(::utimensat(AT_FDCWD, Host("Windows/StartUp/Tavrel.lnk").c_str(), times, 0), 0);
    fs::permissions(Host("Windows/StartUp/readme.txt"), fs::perms::owner_write, fs::perm_options::remove);
    fs::resize_file(Host("Windows/StartUp/Other.LNK"), std::uintmax_t{5} << 30);   // sparse

    const WIN32_FIND_DATAW shortcut = FindOne(u"\\Windows\\StartUp\\Tavrel.lnk");
    EXPECT_EQ(shortcut.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(shortcut.nFileSizeHigh, 0u);
    EXPECT_EQ(shortcut.nFileSizeLow, 26u);
    EXPECT_EQ(Ticks(shortcut.ftLastWriteTime), 132223104005000000u);
    EXPECT_EQ(Ticks(shortcut.ftLastAccessTime), 132223104000000000u);
    EXPECT_NE(Ticks(shortcut.ftCreationTime), 0u);
    EXPECT_EQ(shortcut.dwOID, 0u);

    EXPECT_EQ(FindOne(u"\\Windows\\StartUp\\readme.txt").dwFileAttributes, FILE_ATTRIBUTE_READONLY);
    const WIN32_FIND_DATAW big = FindOne(u"\\Windows\\StartUp\\Other.LNK");
    EXPECT_EQ(big.nFileSizeHigh, 1u);
    EXPECT_EQ(big.nFileSizeLow, 1u << 30);
    const WIN32_FIND_DATAW folder = FindOne(u"\\Windows\\StartUp\\Sub");
    EXPECT_EQ(folder.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(folder.nFileSizeLow, 0u);
}

TEST_F(SearchTest, OnlyFilesAndFoldersThatTheDeviceCanNameAreListed)
{
    const std::string longest(251, 'n');   // 255 bytes with ".lnk", the host's longest name
    Put("Windows/StartUp/" + longest + ".lnk", "");
    Put("Windows/StartUp/bad\xff.lnk", "");   // not UTF-8: no device path reaches it
    ASSERT_EQ(::mkfifo(Host("Windows/StartUp/pipe").c_str(), 0600), 0);
    fs::create_symlink("nowhere", Host("Windows/StartUp/dangling"));
    fs::create_symlink("Tavrel.lnk", Host("Windows/StartUp/linked.lnk"));

    const std::u16string longestName = std::u16string(longest.begin(), longest.end()) + u".lnk";
    EXPECT_EQ(SearchNames(u"\\Windows\\StartUp\\*"),
              (Names{u"Other.LNK", u"Sub", u"Tavrel.lnk", u"linked.lnk", longestName, u"readme.txt"}));
}

TEST_F(SearchTest, FailuresTellAMissingFileFromAMissingFolder)
{
    struct Case {
        std::u16string path;
        DWORD error;
    };
    WriteWholeFile(device_.root() / "secret.txt", "outside the device's file system");
    const Case cases[] = {
        {u"\\Windows\\StartUp\\*.exe", ERROR_FILE_NOT_FOUND},
        {u"\\Windows\\StartUp\\", ERROR_FILE_NOT_FOUND},
        {u"\\Windows\\Missing\\*", ERROR_PATH_NOT_FOUND},
        {u"\\Windows\\StartUp\\readme.txt\\*", ERROR_PATH_NOT_FOUND},
        {u"\\..\\secret.txt", ERROR_PATH_NOT_FOUND},
        {u"\\Windows\\..\\..\\secret.txt", ERROR_PATH_NOT_FOUND},
        {u"\\" + std::u16string(258, u'a'), ERROR_FILE_NOT_FOUND},   // 259 characters: a valid path
        {u"\\" + std::u16string(259, u'a'), ERROR_FILENAME_EXCED_RANGE},
    };
    for (const Case& test : cases) {
        DWORD error = 0;
        EXPECT_TRUE(SearchNames(test.path, &error).empty());
        EXPECT_EQ(error, test.error) << std::string(test.path.begin(), test.path.end());
    }
    WIN32_FIND_DATAW data{};
    EXPECT_EQ(FindFirstFileW(nullptr, &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(FindFirstFileW(u"\\Windows\\StartUp\\*", nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(SearchTest, ASearchHandleClosesOnceAndOtherHandlesAreNotSearches)
{
    WIN32_FIND_DATAW data{};
    HANDLE first = FindFirstFileW(u"\\Windows\\StartUp\\*", &data);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FindNextFileW(first, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(FindClose(first));
    EXPECT_FALSE(FindNextFileW(first, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FindClose(first));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    HANDLE second = FindFirstFileW(u"\\Windows\\StartUp\\*", &data);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_FALSE(FindClose(second));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(FindClose(event));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FindNextFileW(event, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(SetEvent(event));   // still open
    EXPECT_TRUE(CloseHandle(event));
}

TEST(ShellFilesWithoutDevice, EveryCallFailsWithPathNotFound)
{
    {
        TestDevice device;   // up and down again: nothing of it may stay reachable
        ASSERT_FALSE(FolderPath(CSIDL_STARTUP, TRUE).empty());
    }
    EXPECT_EQ(FolderPath(CSIDL_STARTUP, TRUE), u"");
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    DWORD error = 0;
    EXPECT_TRUE(SearchNames(u"\\Windows\\*", &error).empty());
    EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(CopyFileW(u"\\a.lnk", u"\\b.lnk", FALSE));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(DeleteFileW(u"\\a.lnk"));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    // The idle timer needs no device: a reset is counted and leaves the last error alone.
    const std::size_t resets = platform::SystemIdleTimerResets();
    SetLastError(1234);
    SystemIdleTimerReset();
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(platform::SystemIdleTimerResets(), resets + 1);
}

}  // namespace
