// Two devices of one person whose ports are linked in the same folder (the
// same TAVREL_PORT_DIR, as two devices in /run/tavrel/<user> are), each a
// real `tavrel` relaying its own receiver to COM2 and COM5 unattended: the
// one that comes second says which ports another device holds and leaves
// them working; once the first has crashed, its links are stale, and the
// second takes their names over.
#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "device_processes.h"
#include "relay/relay_run.h"
#include "testkit/pty_pair.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

class SharedPortFolderProcessTest : public AutostartDeviceTest {
protected:
    void SetUp() override
    {
        AutostartDeviceTest::SetUp();
        second_.Install();
        second_.PrepareLastRun(1);
        second_.PlaceStartupShortcut();
    }

    // The second device, with its links in the first device's port folder.
    ChildProcess RunSecond(const std::string& name) const
    {
        return second_.Run(TAVREL_PROGRAM_PATH, name, {}, nullptr,
                           {{"TAVREL_PORT_DIR", ports().string()}, {"TAVREL_DEBUG", "1"}});
    }

    std::string InUseLine(int number) const
    {
        return "COM" + std::to_string(number) + " is in use by another Tavrel device: " + PortLink(number).string();
    }

    // Opens every saved output's link; the readers, once each gets what the receiver sends.
    static std::vector<int> OpenReaders(const PtyPair& receiver, const std::vector<fs::path>& links)
    {
        std::vector<int> readers;
        for (const fs::path& link : links) {
            readers.push_back(OpenRaw(link.string()));
            EXPECT_GE(readers.back(), 0) << link;
        }
        EXPECT_TRUE(WaitUntilRelaying(receiver, readers));
        return readers;
    }

    static void ExpectEveryReaderGets(const PtyPair& receiver, const std::vector<int>& readers)
    {
        const std::vector<unsigned char> all = AllByteValues();
        receiver.Write(all);
        for (int reader : readers) {
            EXPECT_EQ(ReadFor(reader, all.size()), all);
        }
    }

    static void CloseAll(std::vector<int>& readers)
    {
        for (int reader : readers) {
            ::close(reader);
        }
        readers.clear();
    }

    BootRunDevice second_{"second device"};
};

TEST_F(SharedPortFolderProcessTest, TheSecondDeviceLeavesTheFirstsPortsAloneAndTakesThemOverOnceItCrashed)
{
    ChildProcess first = Run(TAVREL_PROGRAM_PATH, "first");
    ASSERT_TRUE(WaitForLinks(SavedOutputLinks())) << first.Errors();
    std::vector<int> readers = OpenReaders(gps(), SavedOutputLinks());
    std::map<fs::path, fs::path> firstSlaves;
    for (const fs::path& link : SavedOutputLinks()) {
        firstSlaves[link] = fs::read_symlink(link);
    }

    {
        ChildProcess second = RunSecond("second");
        for (int number : kSavedOutputs) {
            EXPECT_TRUE(WaitForError(second, InUseLine(number))) << second.Errors();
        }
        for (const fs::path& link : SavedOutputLinks()) {
            EXPECT_EQ(fs::read_symlink(link), firstSlaves[link]) << link;
        }
        ExpectEveryReaderGets(gps(), readers);
        second.Signal(SIGTERM);
        EXPECT_EQ(second.WaitExit(60s), 1) << second.Errors();
    }
    for (const fs::path& link : SavedOutputLinks()) {
        EXPECT_EQ(fs::read_symlink(link), firstSlaves[link]) << "the second device's end took nothing away";
    }
    ExpectEveryReaderGets(gps(), readers);

    // A crash leaves the links behind, with nobody serving them. The readers
    // stay open meanwhile, so that no new pty can take an old one's number.
    first.Signal(SIGKILL);
    EXPECT_FALSE(first.WaitExit(60s)) << "ended by the signal";
    for (const fs::path& link : SavedOutputLinks()) {
        EXPECT_TRUE(Exists(link)) << link;
    }

    ChildProcess again = RunSecond("second again");
    ASSERT_TRUE(WaitForCondition([&] {
        for (const fs::path& link : SavedOutputLinks()) {
            std::error_code error;
            if (fs::read_symlink(link, error) == firstSlaves[link] || error) {
                return false;
            }
        }
        return true;
    })) << again.Errors();
    CloseAll(readers);
    std::vector<int> secondReaders = OpenReaders(second_.gps(), SavedOutputLinks());
    ExpectEveryReaderGets(second_.gps(), secondReaders);
    EXPECT_EQ(again.Errors().find("in use by another Tavrel device"), std::string::npos) << again.Errors();
    CloseAll(secondReaders);
    again.Signal(SIGTERM);
    EXPECT_EQ(again.WaitExit(60s), 1) << again.Errors();
}

}  // namespace
