// A fault that passes does not cost the saved choices: a start at boot that
// cannot bring back some saved outputs, or cannot read the settings at all,
// keeps them saved, and once the fault is repaired the next start relays to
// every saved output again.
#include <csignal>

#include <gtest/gtest.h>

#include "device_processes.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;

enum class Fault { UnparsableSystemHive, PortFolderUnusable, FileNamedCom2InPortFolder, UnparsableUserHive };
const char* const kFaultNames[] = {"UnparsableSystemHive", "PortFolderIsAFile", "FileNamedCom2InPortFolder",
                                   "UnparsableUserHive"};

class PassingFaultTest : public AutostartDeviceTest, public ::testing::WithParamInterface<Fault> {
protected:
    void Break()
    {
        switch (GetParam()) {
        case Fault::UnparsableSystemHive: SpoilHive(SystemHive()); break;
        case Fault::UnparsableUserHive: SpoilHive(UserHive()); break;
        // Even root cannot make links in a file.
        case Fault::PortFolderUnusable: WriteWholeFile(ports(), "not a folder"); break;
        case Fault::FileNamedCom2InPortFolder:
            std::filesystem::create_directories(ports());
            WriteWholeFile(PortLink(2), "not a port");
            break;
        }
    }

    void Repair() const
    {
        switch (GetParam()) {
        case Fault::UnparsableSystemHive: WriteWholeFile(SystemHive(), intact_); break;
        case Fault::UnparsableUserHive: WriteWholeFile(UserHive(), intact_); break;
        case Fault::PortFolderUnusable: std::filesystem::remove(ports()); break;
        case Fault::FileNamedCom2InPortFolder: std::filesystem::remove(PortLink(2)); break;
        }
    }

    // One stray Latin-1 byte ("é" after the product name) makes the file unparsable.
    void SpoilHive(const std::filesystem::path& hive)
    {
        intact_ = ReadWholeFile(hive);
        const std::size_t name = intact_.find("Tavrel");
        ASSERT_NE(name, std::string::npos);
        spoilt_ = intact_;
        spoilt_.insert(name + 6, 1, '\xE9');
        WriteWholeFile(hive, spoilt_);
    }
    std::filesystem::path SpoiltHive() const
    {
        return GetParam() == Fault::UnparsableSystemHive ? SystemHive() : UserHive();
    }

    // A start at boot, ended as a shutdown ends it once its window is up.
    void RunUntilShutDown(const std::string& name, bool withSavedOutputs) const
    {
        ChildProcess program = Run(TAVREL_PROGRAM_PATH, name);
        if (withSavedOutputs) {
            EXPECT_TRUE(WaitForLinks(SavedOutputLinks())) << program.Errors();
        }
        ASSERT_TRUE(WaitForMainWindow()) << program.Errors();
        program.Signal(SIGTERM);
        EXPECT_EQ(program.WaitExit(60s), 1) << program.Errors();
    }

    std::string intact_;
    std::string spoilt_;
};

TEST_P(PassingFaultTest, TheSavedChoicesStaySavedAndTheOutputsComeBackOnceItIsRepaired)
{
    Break();
    RunUntilShutDown("faulty", false);
    if (!spoilt_.empty()) {
        EXPECT_EQ(ReadWholeFile(SpoiltHive()), spoilt_) << "a file that cannot be parsed is never written over";
    }
    EXPECT_TRUE(Exists(StartupShortcut()));

    Repair();
    EXPECT_EQ(SavedNumber(u"Split"), kSavedSplit);
    EXPECT_EQ(SavedNumber(u"Autostart"), 1u);
    RunUntilShutDown("repaired", true);
    EXPECT_EQ(SavedNumber(u"Split"), kSavedSplit);
    EXPECT_TRUE(Exists(StartupShortcut()));
}

INSTANTIATE_TEST_SUITE_P(Faults, PassingFaultTest,
                         ::testing::Values(Fault::UnparsableSystemHive, Fault::PortFolderUnusable,
                                           Fault::FileNamedCom2InPortFolder, Fault::UnparsableUserHive),
                         [](const auto& named) { return std::string(kFaultNames[static_cast<int>(named.param)]); });

}  // namespace
