// tavrel-compat as a person runs it: its command line and exit codes, what it
// hands the program, and pyserial asking a port for its modem lines, with and
// without it. Real processes on a real pseudo-terminal.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "compat_port_fixture.h"
#include "testkit/temp_folder.h"
#include "tools/compat/launch_setup.h"

namespace {

using tavrel::testing::CompatPortTest;
using tavrel::testing::Preload;
using tavrel::testing::TempFolder;

constexpr char kPython[] = "/usr/bin/python3";   // Debian's, with python3-serial
constexpr char kSentence[] = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";

TEST_F(CompatPortTest, WithoutAProgramItPrintsUsageAndExits2)
{
    auto launcher = Run(Preload::None, TAVREL_COMPAT_PATH, {});
    EXPECT_EQ(launcher->WaitExit(), 2);
    EXPECT_NE(launcher->Errors().find("usage: tavrel-compat PROGRAM"), std::string::npos) << launcher->Errors();
}

TEST_F(CompatPortTest, AProgramThatCannotBeRunEndsAsInAShell)
{
    auto unknown = Run(Preload::Compat, "no-such-program-anywhere", {});
    EXPECT_EQ(unknown->WaitExit(), 127);
    EXPECT_NE(unknown->Errors().find("no-such-program-anywhere: command not found"), std::string::npos);

    auto missing = Run(Preload::Compat, (folder_.path() / "missing").string(), {});
    EXPECT_EQ(missing->WaitExit(), 127);
    EXPECT_NE(missing->Errors().find("No such file or directory"), std::string::npos);

    const std::filesystem::path notExecutable = folder_.path() / "notes.txt";
    tavrel::testing::WriteWholeFile(notExecutable, "text\n");
    auto refused = Run(Preload::Compat, notExecutable.string(), {});
    EXPECT_EQ(refused->WaitExit(), 126);
}

// The program gets its arguments, the library in front of the caller's
// preloads, and the port folder; its exit code is tavrel-compat's.
TEST_F(CompatPortTest, TheProgramRunsWithTheLibraryAndThePortFolder)
{
    // The caller's preload reaches tavrel-compat too, which in the sanitizer
    // build wants its runtime loaded first: let it start all the same.
    const char* asanOptions = std::getenv("ASAN_OPTIONS");
    const std::string laxOrder = std::string(asanOptions != nullptr ? asanOptions : "") + ":verify_asan_link_order=0";
    auto shell = Run(Preload::Compat, "/bin/sh",
                     {"-c", "printf '%s|%s|%s' \"$1\" \"$LD_PRELOAD\" \"$TAVREL_COMPAT_PORT_DIRS\"; exit 7", "sh", "one two"},
                     {{"LD_PRELOAD", "libm.so.6"}, {"ASAN_OPTIONS", laxOrder}});
    EXPECT_EQ(shell->WaitExit(), 7) << shell->Errors();
    const std::string expected = std::string("one two|") + TAVREL_COMPAT_LIBRARY_PATH + ":libm.so.6|" +
                                 PortLink().parent_path().string();
    EXPECT_EQ(shell->Output().substr(0, expected.size()), expected);
}

// With no port folder named, the person's ports lie where the device puts
// them by itself: never the folder the program happens to start in.
TEST_F(CompatPortTest, WithoutANamedPortFolderTheDevicesOwnIsPassed)
{
    const std::filesystem::path device = folder_.path() / "device";
    auto shell = Run(Preload::Compat, "/bin/sh", {"-c", "printf '%s:' \"$TAVREL_COMPAT_PORT_DIRS\""},
                     {{"TAVREL_PORT_DIR", ""}, {"TAVREL_DEVICE_ROOT", device.string()}});
    EXPECT_EQ(shell->WaitExit(), 0) << shell->Errors();
    EXPECT_TRUE(shell->Output().starts_with((device / "ports").string() + ":")) << shell->Output();
}

TEST(CompatPortFolders, TheOwnFolderAndEveryRealFolderOfTheSystemFolder)
{
    TempFolder system;
    std::filesystem::create_directory(system.path() / "ann");
    std::filesystem::create_directory_symlink(system.path() / "ann", system.path() / "bo");
    tavrel::testing::WriteWholeFile(system.path() / "cy", "");
    const auto folders = tavrel::compat::PortFolders(system.path() / "ann" / "." , system.path());
    EXPECT_EQ(folders, std::vector<std::filesystem::path>{system.path() / "ann"});

    const auto withOwn = tavrel::compat::PortFolders("ports", system.path() / "missing");
    EXPECT_EQ(withOwn, std::vector<std::filesystem::path>{std::filesystem::current_path() / "ports"});

    const auto joined = tavrel::compat::JoinFolders({"/a", "/b:c", "/d"});
    EXPECT_EQ(joined.text, "/a:/d");
    EXPECT_EQ(joined.leftOut, std::vector<std::filesystem::path>{"/b:c"});
}

// pyserial's modem-line properties on the port, and a sentence read after them.
class PyserialTest : public CompatPortTest {
protected:
    // What the client printed, after it read one sentence from the port.
    std::string ClientSays(Preload preload, std::map<std::string, std::string> environment = {})
    {
        auto client = Run(preload, kPython, {PYSERIAL_CLIENT_PATH, PortLink().string()}, std::move(environment));
        EXPECT_TRUE(AwaitFromProgram("ready\n")) << client->Errors();
        const std::string line = std::string(kSentence) + "\r\n";
        far_.Write({line.begin(), line.end()});
        EXPECT_EQ(client->WaitExit(), 0) << client->Errors();
        return client->Output();
    }
};

TEST_F(PyserialTest, UnderTavrelCompatTheModemLinesAnswer)
{
    EXPECT_EQ(ClientSays(Preload::Compat),
              std::string("cts True\ndsr True\ncd True\nri False\ndtr set\nrts set\n") + kSentence + "\n");
}

// What pyserial says on a pseudo-terminal that answers no modem-line request.
const std::string kRefused = std::string("cts raises 25\ndsr raises 25\ncd raises 25\nri raises 25\n") +
                             "dtr raises 25\nrts raises 25\n" + kSentence + "\n";

TEST_F(PyserialTest, WithoutItTheyRaiseAsOnAnyPseudoTerminal)
{
    EXPECT_EQ(ClientSays(Preload::None), kRefused);
}

TEST_F(PyserialTest, UnderTavrelCompatAPtyThatNoPortLinkLeadsToStillRaises)
{
    const std::string elsewhere = (folder_.path() / "elsewhere").string();
    EXPECT_EQ(ClientSays(Preload::Compat, {{"TAVREL_PORT_DIR", elsewhere}}), kRefused);
}

}  // namespace
