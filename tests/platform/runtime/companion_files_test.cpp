// Where a file that comes with a program is looked for from the program's
// folder: beside it, then ../lib/<multiarch>/tavrel, then ../lib/tavrel, then
// where the build put it; a folder or a file elsewhere does not count.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/companion_files.h"
#include "testkit/temp_folder.h"

namespace {

using tavrel::testing::TempFolder;
using tavrel::testing::WriteWholeFile;

TEST(CompanionFiles, BesideTheProgramFirstThenItsLibFoldersThenTheBuilds)
{
    TempFolder install;
    const std::filesystem::path bin = install.path() / "bin";
    const std::filesystem::path lib = install.path() / "lib";
    const std::filesystem::path built = install.path() / "build" / "display-qt.so";
    const std::string name = "display-qt.so";
    for (const auto& folder : {bin, lib / "tavrel", lib / TAVREL_MULTIARCH / "tavrel", built.parent_path()}) {
        std::filesystem::create_directories(folder);
    }
    EXPECT_EQ(platform::FindCompanion(bin, name, built), std::filesystem::path());
    std::filesystem::create_directories(bin / name);   // a folder of that name is not the file
    WriteWholeFile(built, "");
    EXPECT_EQ(platform::FindCompanion(bin, name, built), built);
    WriteWholeFile(lib / "tavrel" / name, "");
    EXPECT_EQ(platform::FindCompanion(bin, name, built), lib / "tavrel" / name);
    WriteWholeFile(lib / TAVREL_MULTIARCH / "tavrel" / name, "");
    EXPECT_EQ(platform::FindCompanion(bin, name, built), lib / TAVREL_MULTIARCH / "tavrel" / name);
    std::filesystem::remove(bin / name);
    WriteWholeFile(bin / name, "");
    EXPECT_EQ(platform::FindCompanion(bin, name, built), bin / name);
}

TEST(CompanionFiles, TheLineForAMissingFileNamesEveryFolderLookedIn)
{
    const std::string line = platform::CompanionNotFound("/opt/x/bin", "display-qt.so");
    const std::string multiarch = TAVREL_MULTIARCH;
    const std::string expected = "display-qt.so is neither beside /opt/x/bin nor in " +
                                 (multiarch.empty() ? "" : "../lib/" + multiarch + "/tavrel or ") + "../lib/tavrel";
    EXPECT_EQ(line, expected);
}

TEST(CompanionFiles, TheRunningProgramsFolderIsThisTestsOwn)
{
    EXPECT_TRUE(std::filesystem::exists(platform::RunningProgramFolder() / "companion_files_test"));
}

}  // namespace
