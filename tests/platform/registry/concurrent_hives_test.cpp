// Processes of one device that change its hives at the same moment. Each is a
// real process (hive_writer), all are let go together through a barrier, and
// the test then reads what the hive files hold.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "platform/boot.h"
#include "platform/strings.h"
#include "ready_barrier.h"
#include "registry/hives.h"
#include "registry_test_util.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"
#include "setup/device_setup.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;
using platform::registry::MountHives;
using platform::registry::UnmountHives;

using Arguments = std::function<std::vector<std::string>(int process, const std::filesystem::path& barrier)>;

class ProcessesOfOneDevice : public ::testing::Test {
protected:
    void TearDown() override { UnmountHives(); }

    // Starts `count` hive_writers, lets them go together once all are waiting,
    // and expects each to end with 0.
    void RunTogether(int count, const Arguments& arguments)
    {
        const std::filesystem::path run = temp.path() / ("run" + std::to_string(++runs_));
        ReadyBarrier barrier(run / "barrier");
        std::vector<std::unique_ptr<ChildProcess>> processes;
        for (int i = 0; i < count; ++i) {
            processes.push_back(std::make_unique<ChildProcess>(HIVE_WRITER_PATH, arguments(i, barrier.folder()),
                                                               std::map<std::string, std::string>{},
                                                               run / ("process" + std::to_string(i))));
            ASSERT_TRUE(processes.back()->started());
        }
        ASSERT_TRUE(barrier.WaitUntilReady(count, 60s)) << processes.front()->Errors();
        barrier.Release(count);
        for (const auto& process : processes) {
            EXPECT_EQ(process->WaitExit(120s), 0) << process->Errors();
        }
    }

    TempFolder temp;

private:
    int runs_ = 0;
};

// Names in the folder that a writer left behind: anything but the hives and
// their lock files.
std::vector<std::string> Leftovers(const std::filesystem::path& folder)
{
    std::vector<std::string> leftovers;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != "system.reg" && name != "user.reg" && !name.ends_with(".reg.lock")) {
            leftovers.push_back(name);
        }
    }
    return leftovers;
}

TEST_F(ProcessesOfOneDevice, ManyChangingOneHiveAtOnceLoseNoneOfTheirChanges)
{
    constexpr int kWriters = 12;
    constexpr unsigned kValues = 15;
    const std::filesystem::path folder = temp.path() / "device" / "registry";
    RunTogether(kWriters, [&](int writer, const std::filesystem::path& barrier) {
        return std::vector<std::string>{"write", folder.string(), barrier.string(), std::to_string(writer),
                                        std::to_string(kValues)};
    });

    const auto mounted = MountHives(folder);
    ASSERT_TRUE(mounted.ok) << mounted.errors.front();
    HKEY shared = CreateKey(HKEY_CURRENT_USER, u"Shared");
    EXPECT_EQ(ValueNames(shared).size(), kWriters * kValues);
    for (int writer = 0; writer < kWriters; ++writer) {
        const std::u16string name = platform::ToUtf16(std::to_string(writer));
        HKEY own = CreateKey(HKEY_CURRENT_USER, (u"Writers\\" + name).c_str());
        EXPECT_EQ(ValueNames(own).size(), kValues) << "writer " << writer;
        for (unsigned value = 0; value < kValues; ++value) {
            const std::u16string number = platform::ToUtf16(std::to_string(value));
            const std::vector<BYTE> expected = Bytes({static_cast<int>(value), 0, 0, 0});
            EXPECT_EQ(QueryValue(shared, (u"w" + name + u"-" + number).c_str()).data, expected);
            EXPECT_EQ(QueryValue(own, (u"v" + number).c_str()).data, expected);
        }
    }
    EXPECT_TRUE(SubkeyNames(CreateKey(HKEY_CURRENT_USER, u"Scratch")).empty());
    EXPECT_EQ(Leftovers(folder), std::vector<std::string>{});
}

// Copies of a program started at the same moment (a double click, a login
// script and a desktop autostart together) on a device that has a person's
// input port mapped, a detected port that is gone and two that are present.
class SimultaneousStarts : public ProcessesOfOneDevice {
protected:
    std::filesystem::path Root(int round) const { return temp.path() / ("device" + std::to_string(round)); }
    std::filesystem::path Host() const { return temp.path() / "host"; }

    void MakeHost() const
    {
        for (const char* port : {"ttyUSB0", "ttyUSB1"}) {
            std::filesystem::create_directories(Host() / "sys" / "class" / "tty" / port / "device");
            std::filesystem::create_directories(Host() / "dev");
            WriteWholeFile(Host() / "dev" / port, "");
        }
    }

    void PrepareDevice(int round) const
    {
        platform::DeviceSettings settings;
        settings.deviceRoot = Root(round);
        settings.syncHostSerialPorts = false;
        ASSERT_TRUE(platform::BootDevice(settings).ok);
        ASSERT_TRUE(tavrel::setup::MapBuiltInPort(u"Gps", 1, gps_.slavePath()));
        HKEY gone = CreateKey(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\ttyGone");
        SetValue(gone, u"Dll", REG_SZ, TextBytes(u"serial.dll"));
        SetValue(gone, u"Prefix", REG_SZ, TextBytes(u"COM"));
        SetValue(gone, u"Index", REG_DWORD, Bytes({7, 0, 0, 0}));
        SetValue(gone, u"HostDevice", REG_SZ, TextBytes(platform::ToUtf16((Host() / "dev" / "ttyGone").string())));
        SetValue(gone, u"Detected", REG_DWORD, Bytes({1, 0, 0, 0}));
        platform::ShutdownDevice();
    }

    void StartTogether(int copies, int round)
    {
        RunTogether(copies, [&](int, const std::filesystem::path& barrier) {
            return std::vector<std::string>{"boot", Root(round).string(), barrier.string(), Host().string()};
        });
    }

    static std::u16string Text(HKEY key, const char16_t* name)
    {
        const QueriedValue value = QueryValue(key, name);
        return value.result == ERROR_SUCCESS ? std::u16string(reinterpret_cast<const char16_t*>(value.data.data()))
                                             : u"(missing)";
    }

    // What every one of the copies wrote and what boot keeps in step: none of
    // it lost and nothing twice.
    void ExpectEveryDriverKey(int round) const
    {
        const auto mounted = MountHives(Root(round) / "registry");
        ASSERT_TRUE(mounted.ok) << mounted.errors.front();
        HKEY builtIn = CreateKey(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn");
        std::vector<std::u16string> ports = SubkeyNames(builtIn);
        std::sort(ports.begin(), ports.end());
        ASSERT_EQ(ports, (std::vector<std::u16string>{u"Gps", u"ttyUSB0", u"ttyUSB1"}));
        std::vector<std::vector<BYTE>> numbers;
        for (const std::u16string& port : ports) {
            HKEY key = CreateKey(builtIn, port.c_str());
            EXPECT_EQ(Text(key, u"Dll"), u"serial.dll") << platform::ToUtf8(port);
            numbers.push_back(QueryValue(key, u"Index").data);
        }
        std::sort(numbers.begin(), numbers.end());
        EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());
        EXPECT_EQ(SubkeyNames(CreateKey(HKEY_LOCAL_MACHINE, u"Drivers\\Detached")),
                  std::vector<std::u16string>{u"ttyGone"});
        for (unsigned number = 0; number <= 9; ++number) {
            HKEY key = CreateKey(HKEY_LOCAL_MACHINE, Numbered(u"Drivers\\quorvel", number).c_str());
            EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"Dll", u"Prefix", u"FriendlyName", u"Index"}));
            EXPECT_EQ(Text(key, u"Dll"), tavrel::setup::kVirtualPortModule);
        }
        EXPECT_EQ(Leftovers(Root(round) / "registry"), std::vector<std::string>{});
        UnmountHives();
    }

    void StartRounds(int copies, int rounds)
    {
        MakeHost();
        for (int round = 0; round < rounds; ++round) {
            PrepareDevice(round);
            StartTogether(copies, round);
            ExpectEveryDriverKey(round);
        }
    }

    PtyPair gps_;
};

TEST_F(SimultaneousStarts, TwoCopiesKeepTheInputsModuleAndEveryDriverKey) { StartRounds(2, 6); }

TEST_F(SimultaneousStarts, TwentyCopiesKeepTheInputsModuleAndEveryDriverKey) { StartRounds(20, 2); }

TEST_F(ProcessesOfOneDevice, AHiveThatIsAFifoIsReportedAtBootWithoutBlocking)
{
    const std::filesystem::path root = temp.path() / "device";
    const std::filesystem::path userHive = root / "registry" / "user.reg";
    std::filesystem::create_directories(userHive.parent_path());
    ASSERT_EQ(::mkfifo(userHive.c_str(), 0600), 0);

    ChildProcess boot(HIVE_WRITER_PATH, {"boot", root.string(), "-", "-"}, {}, temp.path() / "boot");
    ASSERT_EQ(boot.WaitExit(60s), 0) << boot.Errors();
    const std::string problems = boot.Output();
    EXPECT_NE(problems.find("problem: " + userHive.string() + ": "), std::string::npos) << problems;
    EXPECT_NE(problems.find("FIFO"), std::string::npos) << problems;
    EXPECT_TRUE(std::filesystem::is_fifo(userHive));
    // The machine-wide hive works.
    EXPECT_NE(ReadWholeFile(root / "registry" / "system.reg").find("quorvel9"), std::string::npos);
}

}  // namespace
