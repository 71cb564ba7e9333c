// The programs as a package or `cmake --install` lays them out, in a fake
// prefix: bin/ with the programs, lib/<multiarch>/tavrel/ with the module and
// the preload library. Each program takes its companions from its own layout,
// not from the build: the installer's module and login entry, the program's
// first start, tavrel-compat's library. Without the module in the layout the
// installer falls back on the build's.
#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

#include "child_process.h"
#include "desktop_entry_reader.h"
#include "device_processes.h"
#include "relay/relay_run.h"
#include "setup/module_record.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

class InstalledLayoutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(bin_);
        fs::create_directories(lib_);
        for (const char* program : {TAVREL_PROGRAM_PATH, TAVREL_INSTALL_PATH, TAVREL_STARTUP_PATH, TAVREL_COMPAT_PATH}) {
            // Copies, not links: a program finds its place through /proc/self/exe, which follows links.
            fs::copy_file(program, bin_ / fs::path(program).filename());
        }
        fs::copy_file(TAVREL_COMPAT_LIBRARY_PATH, lib_ / fs::path(TAVREL_COMPAT_LIBRARY_PATH).filename());
        // The layout's module differs from the build's by trailing bytes, which its loader ignores.
        WriteWholeFile(Module(), ReadWholeFile(QUORVEL_MODULE_PATH) + "as installed");
    }

    fs::path Module() const { return lib_ / "quorvel.dll"; }
    fs::path DeviceModule() const { return device_.root() / "fs" / "Program Files" / "Tavrel" / "quorvel.dll"; }

    // The arguments of the login entry's Exec line.
    std::vector<std::string> EntryExec() const
    {
        const std::string entry = ReadWholeFile(device_.configFolder() / "autostart" / "tavrel.desktop");
        return ExecArguments(DesktopEntryValue(entry, "Exec").value_or("")).value_or(std::vector<std::string>{});
    }

    BootRunDevice device_;
    fs::path prefix_ = device_.scratch() / "usr";
    fs::path bin_ = prefix_ / "bin";
    fs::path lib_ = prefix_ / "lib" / TAVREL_MULTIARCH / "tavrel";
};

TEST_F(InstalledLayoutTest, TheInstallerTakesTheLayoutsModuleAndNamesItsLauncher)
{
    ChildProcess install = device_.Run((bin_ / "tavrel-install").string(), "install");
    ASSERT_EQ(install.WaitExit(60s), 0) << install.Errors();
    EXPECT_TRUE(tavrel::setup::SameBytes(DeviceModule(), Module()));
    const std::vector<std::string> exec = EntryExec();
    ASSERT_FALSE(exec.empty());
    EXPECT_EQ(exec.back(), (bin_ / "tavrel-startup").string());
}

TEST_F(InstalledLayoutTest, WithoutTheModuleInTheLayoutTheInstallerTakesTheBuilds)
{
    fs::remove(Module());
    ChildProcess install = device_.Run((bin_ / "tavrel-install").string(), "install");
    ASSERT_EQ(install.WaitExit(60s), 0) << install.Errors();
    EXPECT_TRUE(tavrel::setup::SameBytes(DeviceModule(), QUORVEL_MODULE_PATH));
}

TEST_F(InstalledLayoutTest, TheProgramSetsUpItsDeviceFromTheLayoutAndRelays)
{
    device_.PrepareLastRun(1);
    ChildProcess program = device_.Run((bin_ / "tavrel").string(), "program");
    ASSERT_TRUE(WaitForLinks(device_.SavedOutputLinks())) << program.Errors();
    std::vector<int> readers;
    for (const fs::path& link : device_.SavedOutputLinks()) {
        readers.push_back(OpenRaw(link.string()));
    }
    EXPECT_TRUE(WaitUntilRelaying(device_.gps(), readers)) << program.Errors();
    for (int reader : readers) {
        ::close(reader);
    }
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(60s), 1) << program.Errors();
    EXPECT_NE(program.Errors().find("Tavrel set up its device at " + device_.root().string()), std::string::npos)
        << program.Errors();
    EXPECT_TRUE(tavrel::setup::SameBytes(DeviceModule(), Module()));
    const std::vector<std::string> exec = EntryExec();
    ASSERT_FALSE(exec.empty());
    EXPECT_EQ(exec.back(), (bin_ / "tavrel-startup").string());
}

TEST_F(InstalledLayoutTest, TavrelCompatPreloadsTheLayoutsLibrary)
{
    ChildProcess compat = device_.Run((bin_ / "tavrel-compat").string(), "compat", {"/usr/bin/env"});
    ASSERT_EQ(compat.WaitExit(60s), 0) << compat.Errors();
    const std::string expected = "LD_PRELOAD=" + (lib_ / fs::path(TAVREL_COMPAT_LIBRARY_PATH).filename()).string();
    EXPECT_NE(compat.Output().find(expected), std::string::npos) << compat.Output();
}

}  // namespace
