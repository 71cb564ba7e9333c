#include "shell_files_fixture.h"

#include <algorithm>

#include "platform/kernel.h"
#include "testkit/temp_folder.h"

namespace tavrel::testing {

void ShellFilesTest::SetUp()
{
    std::filesystem::remove_all(device_.root() / "fs");
    std::filesystem::create_directories(device_.root() / "fs");
}

void ShellFilesTest::Put(const std::string& relative, const std::string& content) const
{
    std::filesystem::create_directories(Host(relative).parent_path());
    WriteWholeFile(Host(relative), content);
}

std::string ShellFilesTest::Content(const std::string& relative) const
{
    return ReadWholeFile(Host(relative));
}

std::vector<std::string> ShellFilesTest::HostNames(const std::string& relative) const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Host(relative))) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::u16string> SearchNames(const std::u16string& pattern, DWORD* error)
{
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW data{};
    HANDLE search = FindFirstFileW(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        if (error != nullptr) {
            *error = GetLastError();
        }
        return names;
    }
    do {
        names.emplace_back(data.cFileName);
    } while (FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(search));
    return names;
}

}  // namespace tavrel::testing
