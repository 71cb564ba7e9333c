// The links through which programs find the virtual ports: they exist only
// while a port is open for data, and lead to the port; a live link is one
// port's, also when several devices share the folder; and the life of
// several instances at once.
#include <cstddef>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <set>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/comm.h"
#include "platform/debug_capture.h"
#include "platform/kernel.h"
#include "platform/strings.h"
#include "quorvel_harness.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace tavrel::testing {
namespace {

namespace fs = std::filesystem;

class VirtualPortLink : public ::testing::Test {
protected:
    TempFolder folder_;
    QuorvelModule module_;
};

bool Exists(const fs::path& path)
{
    return fs::exists(fs::symlink_status(path));
}

bool PointsToAPtySlave(const fs::path& link)
{
    std::error_code error;
    return fs::is_symlink(fs::symlink_status(link)) && fs::read_symlink(link, error).string().starts_with("/dev/pts/");
}

std::set<std::string> Names(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// The file through which a live port holds its link.
fs::path LockFileOf(const fs::path& link)
{
    std::string name = ".";   // appended: GCC 12 warns wrongly (-Wrestrict) about "." + string at -O3
    name.append(link.filename().string()).append(".lock");
    return link.parent_path() / name;
}

// The link leads to the port: what is written arrives at a reader that opened it.
void ExpectRelaysThroughLink(const PortUnderTest& port)
{
    Consumer reader(OpenRaw(port.linkPath()));
    ASSERT_TRUE(reader.valid()) << port.linkPath();
    const auto all = AllByteValues();
    EXPECT_EQ(port.Write(all), 256u);
    EXPECT_EQ(ReadFor(reader.fd(), 256), all) << port.linkPath();
}

TEST_F(VirtualPortLink, LinkIsMadeInAMissingFolderAndLeadsToThePort)
{
    const fs::path ports = folder_.path() / "run" / "tavrel" / "ports";
    PortUnderTest port(module_, 5, ports);
    EXPECT_EQ(port.linkPath(), ports / "COM5");
    EXPECT_TRUE(PointsToAPtySlave(port.linkPath()));
    ExpectRelaysThroughLink(port);
}

// Stale: its pty gone, or a pty that no live port serves (a crashed run's
// lock file, which nobody holds, left beside it).
TEST_F(VirtualPortLink, StaleLinksAreReplaced)
{
    const fs::path elsewhere = folder_.path() / "elsewhere.txt";
    WriteWholeFile(elsewhere, "not a port");
    fs::create_symlink("/dev/pts/no-such-pty", folder_.path() / "COM3");
    fs::create_symlink(elsewhere, folder_.path() / "COM4");
    const PtyPair ownerless;
    fs::create_symlink(ownerless.slavePath(), folder_.path() / "COM2");
    WriteWholeFile(LockFileOf(folder_.path() / "COM2"), "");

    PortUnderTest dangling(module_, 3, folder_.path());
    PortUnderTest pointingToAFile(module_, 4, folder_.path());
    PortUnderTest pointingToALivePty(module_, 2, folder_.path());
    EXPECT_TRUE(PointsToAPtySlave(dangling.linkPath()));
    EXPECT_TRUE(PointsToAPtySlave(pointingToAFile.linkPath()));
    EXPECT_NE(fs::read_symlink(pointingToALivePty.linkPath()), fs::path(ownerless.slavePath()));
    EXPECT_EQ(ReadWholeFile(elsewhere), "not a port");
    EXPECT_EQ(Names(folder_.path()), (std::set<std::string>{"COM2", ".COM2.lock", "COM3", ".COM3.lock", "COM4",
                                                            ".COM4.lock", "elsewhere.txt"}))
        << "no temporary link is left behind";
    ExpectRelaysThroughLink(dangling);
    ExpectRelaysThroughLink(pointingToAFile);
    ExpectRelaysThroughLink(pointingToALivePty);
}

TEST_F(VirtualPortLink, SomethingElseInTheWayFailsTheActivationAndIsLeftAlone)
{
    WriteWholeFile(folder_.path() / "COM6", "a user's file");
    fs::create_directory(folder_.path() / "COM7");
    platform::DebugOutputCapture debug;

    for (DWORD index : {6u, 7u}) {
        FakeDeviceHost host(index, folder_.path());
        SetLastError(0);
        EXPECT_EQ(module_.entries().Init(host.registryPath(), host.host()), DRIVER_CONTEXT{0}) << index;
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << index;
    }
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder_.path() / "COM6")));
    EXPECT_EQ(ReadWholeFile(folder_.path() / "COM6"), "a user's file");
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(folder_.path() / "COM7")));
    EXPECT_EQ(Names(folder_.path()), (std::set<std::string>{"COM6", "COM7"}));

    const auto lines = debug.Lines();
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& line : lines) {
        EXPECT_TRUE(line.starts_with(u"quorvel COM6: ") || line.starts_with(u"quorvel COM7: "));
        EXPECT_TRUE(line.ends_with(u"\n"));
    }
}

TEST_F(VirtualPortLink, DeinitRemovesTheLinkAndTheReaderSeesAHangup)
{
    PortUnderTest port(module_, 2, folder_.path());
    Consumer reader(OpenRaw(port.linkPath()));
    ASSERT_TRUE(reader.valid());

    EXPECT_EQ(port.Deinit(), TRUE);
    EXPECT_FALSE(fs::exists(fs::symlink_status(port.linkPath())));
    pollfd wait{reader.fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&wait, 1, 10000), 1);
    EXPECT_NE(wait.revents & POLLHUP, 0);
    unsigned char byte = 0;
    EXPECT_LE(::read(reader.fd(), &byte, 1), 0);
}

TEST_F(VirtualPortLink, DeinitLeavesWhatNoLongerLeadsToItsPortInPlace)
{
    PortUnderTest relinked(module_, 8, folder_.path());
    fs::remove(relinked.linkPath());
    fs::create_symlink("/dev/null", relinked.linkPath());
    PortUnderTest replaced(module_, 9, folder_.path());
    fs::remove(replaced.linkPath());
    WriteWholeFile(replaced.linkPath(), "a user's file");

    EXPECT_EQ(relinked.Deinit(), TRUE);
    EXPECT_EQ(replaced.Deinit(), TRUE);
    EXPECT_EQ(fs::read_symlink(relinked.linkPath()), fs::path("/dev/null"));
    EXPECT_EQ(ReadWholeFile(replaced.linkPath()), "a user's file");
    EXPECT_EQ(Names(folder_.path()), (std::set<std::string>{"COM8", "COM9"}))
        << "nothing is left aside under a private name, and the locks are gone";
}

TEST_F(VirtualPortLink, TenPortsLiveAtOnceEachWithItsOwnStream)
{
    std::vector<std::unique_ptr<PortUnderTest>> ports;
    std::vector<std::unique_ptr<Consumer>> readers;
    for (DWORD index = 0; index < 10; ++index) {
        ports.push_back(std::make_unique<PortUnderTest>(module_, index, folder_.path()));
        readers.push_back(std::make_unique<Consumer>(OpenRaw(ports.back()->linkPath())));
        ASSERT_TRUE(readers.back()->valid()) << index;
    }
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(ports[i]->Write(CountingStream(400, static_cast<std::uint32_t>(1000 * i))), 400u);
    }
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(ReadFor(readers[i]->fd(), 400), CountingStream(400, static_cast<std::uint32_t>(1000 * i))) << i;
    }
    for (std::size_t i = 0; i < ports.size(); i += 2) {
        EXPECT_EQ(ports[i]->Deinit(), TRUE);
    }
    EXPECT_EQ(Names(folder_.path()), (std::set<std::string>{"COM1", ".COM1.lock", "COM3", ".COM3.lock", "COM5",
                                                            ".COM5.lock", "COM7", ".COM7.lock", "COM9", ".COM9.lock"}));
    ExpectRelaysThroughLink(*ports[9]);
}

TEST_F(VirtualPortLink, InitWithoutAUsableHostFails)
{
    EXPECT_EQ(module_.entries().Init(u"Drivers\\quorvel1", nullptr), DRIVER_CONTEXT{0});
    FakeDeviceHost host(1, folder_.path());
    DEVICE_HOST tooShort = *host.host();
    tooShort.cbSize = offsetof(DEVICE_HOST, QueryValue);
    EXPECT_EQ(module_.entries().Init(host.registryPath(), &tooShort), DRIVER_CONTEXT{0});
    DEVICE_HOST noFolder = *host.host();
    noFolder.nodeFolder = nullptr;
    SetLastError(0);
    EXPECT_EQ(module_.entries().Init(host.registryPath(), &noFolder), DRIVER_CONTEXT{0});
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_TRUE(Names(folder_.path()).empty());
}

// IOCTL_SERIAL_GET_NODE_PATH on an open context: the path, or the error.
DWORD NodePath(const PortUnderTest& port, DRIVER_CONTEXT open, std::string& path, DWORD size = 512)
{
    std::vector<char> buffer(size, 'x');
    DWORD actual = 0;
    SetLastError(0);
    const BOOL done = port.entries().IOControl(open, IOCTL_SERIAL_GET_NODE_PATH, nullptr, 0,
                                               reinterpret_cast<BYTE*>(buffer.data()), size, &actual);
    path = size > 0 ? std::string(buffer.data(), strnlen(buffer.data(), size)) : std::string();
    if (!done) {
        return GetLastError();
    }
    EXPECT_EQ(actual, path.size() + 1) << "the count includes the terminator";
    return ERROR_SUCCESS;
}

TEST_F(VirtualPortLink, TheLinkExistsOnlyWhileThePortIsOpenForData)
{
    PortUnderTest port(module_, 5, folder_.path(), OpenedForData::No);
    EXPECT_FALSE(Exists(port.linkPath())) << "activated only, as the free outputs' probe does";
    const DRIVER_CONTEXT query = port.Open(0);
    ASSERT_NE(query, DRIVER_CONTEXT{0});
    EXPECT_FALSE(Exists(port.linkPath())) << "opened to query its settings only";
    std::string path;
    EXPECT_EQ(NodePath(port, query, path), ERROR_FILE_NOT_FOUND);

    ASSERT_NE(port.Open(GENERIC_READ | GENERIC_WRITE), DRIVER_CONTEXT{0});
    EXPECT_TRUE(PointsToAPtySlave(port.linkPath()));
    EXPECT_EQ(NodePath(port, query, path), ERROR_SUCCESS);
    EXPECT_EQ(path, port.linkPath().string());
    ExpectRelaysThroughLink(port);

    const fs::path slave = fs::read_symlink(port.linkPath());
    Consumer stays(OpenRaw(port.linkPath()));
    ASSERT_TRUE(stays.valid());
    EXPECT_EQ(port.CloseForData(), TRUE);
    EXPECT_FALSE(Exists(port.linkPath()));
    EXPECT_FALSE(Exists(LockFileOf(port.linkPath())));
    EXPECT_EQ(NodePath(port, query, path), ERROR_FILE_NOT_FOUND);

    // Opened again, the same pty comes back under the link, and a program that
    // kept it open meanwhile still gets what is written.
    ASSERT_NE(port.Open(GENERIC_WRITE), DRIVER_CONTEXT{0});
    EXPECT_EQ(fs::read_symlink(port.linkPath()), slave);
    const auto all = AllByteValues();
    EXPECT_EQ(port.Write(all), 256u);
    EXPECT_EQ(ReadFor(stays.fd(), 256), all);
    EXPECT_EQ(port.Close(query), TRUE);
    EXPECT_TRUE(Exists(port.linkPath())) << "closing a query-only open leaves the link";
    EXPECT_EQ(port.Deinit(), TRUE);
    EXPECT_FALSE(Exists(port.linkPath()));
}

TEST_F(VirtualPortLink, ThePathIsGivenWholeOrNotAtAll)
{
    PortUnderTest port(module_, 3, folder_.path());
    const auto whole = static_cast<DWORD>(port.linkPath().string().size() + 1);
    std::string path;
    EXPECT_EQ(NodePath(port, port.open(), path, whole), ERROR_SUCCESS);
    EXPECT_EQ(path, port.linkPath().string());
    EXPECT_EQ(NodePath(port, port.open(), path, whole - 1), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(path, "");
    SetLastError(0);
    EXPECT_EQ(port.Control(IOCTL_SERIAL_GET_NODE_PATH, nullptr, 0, nullptr, 0), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(VirtualPortLink, SomethingPutInTheWayAfterActivationFailsTheOpenAndIsLeftAlone)
{
    PortUnderTest port(module_, 4, folder_.path(), OpenedForData::No);
    WriteWholeFile(port.linkPath(), "a user's file");
    SetLastError(0);
    EXPECT_EQ(port.Open(GENERIC_READ | GENERIC_WRITE), DRIVER_CONTEXT{0});
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadWholeFile(port.linkPath()), "a user's file");

    fs::remove(port.linkPath());
    ASSERT_NE(port.Open(GENERIC_READ | GENERIC_WRITE), DRIVER_CONTEXT{0}) << "the fault passed";
    ExpectRelaysThroughLink(port);
}

TEST_F(VirtualPortLink, AnotherUsersLinkIsNeverReplaced)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root: only root can leave a link owned by another user";
    }
    const fs::path link = folder_.path() / "COM6";
    fs::create_symlink("/dev/null", link);
    ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
    FakeDeviceHost host(6, folder_.path());
    SetLastError(0);
    EXPECT_EQ(module_.entries().Init(host.registryPath(), host.host()), DRIVER_CONTEXT{0});
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(fs::read_symlink(link), fs::path("/dev/null"));
}

// Two devices whose port folder is the same (one TAVREL_PORT_DIR, or
// /run/tavrel/<user>): what one relays, the other neither takes nor touches.
class SharedPortFolder : public VirtualPortLink {
protected:
    std::u16string InUseLine(DWORD index) const
    {
        const fs::path link = folder_.path() / ("COM" + std::to_string(index));
        return platform::ToUtf16("COM" + std::to_string(index) + " is in use by another Tavrel device: " +
                                 link.string() + "\n");
    }
};

TEST_F(SharedPortFolder, ALiveLinkOfAnotherDeviceFailsTheActivationAndIsLeftAlone)
{
    PortUnderTest first(module_, 5, folder_.path());
    const fs::path slave = fs::read_symlink(first.linkPath());
    platform::DebugOutputCapture debug;

    FakeDeviceHost second(5, folder_.path());
    SetLastError(0);
    EXPECT_EQ(module_.entries().Init(second.registryPath(), second.host()), DRIVER_CONTEXT{0});
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(debug.Lines(), std::vector<std::u16string>{InUseLine(5)});
    EXPECT_EQ(fs::read_symlink(first.linkPath()), slave);
    ExpectRelaysThroughLink(first);
}

TEST_F(SharedPortFolder, ALinkPublishedAfterTheActivationFailsTheOpenUntilItGoes)
{
    PortUnderTest first(module_, 6, folder_.path(), OpenedForData::No);
    PortUnderTest second(module_, 6, folder_.path(), OpenedForData::No);
    ASSERT_NE(first.Open(GENERIC_READ | GENERIC_WRITE), DRIVER_CONTEXT{0});
    const fs::path slave = fs::read_symlink(first.linkPath());
    Consumer reader(OpenRaw(first.linkPath()));
    ASSERT_TRUE(reader.valid());
    {
        platform::DebugOutputCapture debug;
        SetLastError(0);
        EXPECT_EQ(second.Open(GENERIC_READ | GENERIC_WRITE), DRIVER_CONTEXT{0});
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
        EXPECT_EQ(debug.Lines(), std::vector<std::u16string>{InUseLine(6)});
    }
    EXPECT_EQ(fs::read_symlink(first.linkPath()), slave);
    const auto all = AllByteValues();
    EXPECT_EQ(first.Write(all), 256u);
    EXPECT_EQ(ReadFor(reader.fd(), 256), all) << "the first device's reader still gets its data";

    // Closed by the first device (not deactivated), its link goes and the name is free.
    EXPECT_EQ(first.CloseForData(), TRUE);
    ASSERT_NE(second.Open(GENERIC_READ | GENERIC_WRITE), DRIVER_CONTEXT{0});
    EXPECT_NE(fs::read_symlink(second.linkPath()), slave);
    ExpectRelaysThroughLink(second);
    EXPECT_EQ(first.Deinit(), TRUE);
    EXPECT_TRUE(PointsToAPtySlave(second.linkPath())) << "the first device's end leaves the second's link";
    ExpectRelaysThroughLink(second);
}

}  // namespace
}  // namespace tavrel::testing
